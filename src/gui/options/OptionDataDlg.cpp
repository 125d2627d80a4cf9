#include "gui/options/OptionDataDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/table/PMCTable.h"
#include "gui/options/SpinButton.h"
#include "gui/session/CVGLDoc.h"

OptionDataDlg::OptionDataDlg(QWidget* parent) : OptionPage(parent) {
    auto* representation = new QGroupBox(QStringLiteral("Data representation:"), this);
    auto* hostGroup = new QGroupBox(QStringLiteral("Host Type"), representation);
    m_pIpButton = new QRadioButton(QStringLiteral("IP Address"), hostGroup);
    m_pNameButton = new QRadioButton(QStringLiteral("Name"), hostGroup);
    auto* hostLayout = new QVBoxLayout(hostGroup);
    hostLayout->addWidget(m_pIpButton);
    hostLayout->addWidget(m_pNameButton);
    hostLayout->addStretch();

    auto* unitGroup = new QGroupBox(QStringLiteral("Data Unit"), representation);
    m_pByteButton = new QRadioButton(QStringLiteral("Byte"), unitGroup);
    m_pKiloButton = new QRadioButton(QStringLiteral("Kilo-bytes"), unitGroup);
    m_pMegaButton = new QRadioButton(QStringLiteral("Mega-bytes"), unitGroup);
    auto* unitLayout = new QVBoxLayout(unitGroup);
    unitLayout->addWidget(m_pByteButton);
    unitLayout->addWidget(m_pKiloButton);
    unitLayout->addWidget(m_pMegaButton);

    auto* representationLayout = new QHBoxLayout(representation);
    representationLayout->addWidget(hostGroup);
    representationLayout->addWidget(unitGroup);

    auto* periodGroup = new QGroupBox(QStringLiteral("Server update period:"), this);
    m_pPeriodEdit = new QLineEdit(periodGroup);
    m_pPeriodEdit->setAccessibleName(QStringLiteral("Period between update:"));
    m_pPeriodEdit->setMaxLength(6);
    m_pPeriodEdit->setFixedWidth(48);
    m_pPeriodSpin = new SpinButton(m_pPeriodEdit, periodGroup);
    auto* periodLayout = new QHBoxLayout(periodGroup);
    periodLayout->addWidget(new QLabel(QStringLiteral("Period between update:"), periodGroup));
    auto* field = new QHBoxLayout;
    field->setSpacing(0);
    field->addWidget(m_pPeriodEdit);
    field->addWidget(m_pPeriodSpin);
    periodLayout->addLayout(field);
    periodLayout->addWidget(new QLabel(QStringLiteral("seconds."), periodGroup));
    periodLayout->addStretch();

    // More connections cost memory and a longer poll, never a lost record of
    // the ones kept: the limit holds for new connections only.
    auto* limitGroup = new QGroupBox(QStringLiteral("Connections:"), this);
    m_pLimitEdit = new QLineEdit(limitGroup);
    m_pLimitEdit->setAccessibleName(QStringLiteral("Keep at most N connections"));
    m_pLimitEdit->setMaxLength(6);
    m_pLimitEdit->setFixedWidth(64);
    auto* limitLayout = new QHBoxLayout(limitGroup);
    limitLayout->addWidget(new QLabel(QStringLiteral("Keep at most"), limitGroup));
    limitLayout->addWidget(m_pLimitEdit);
    limitLayout->addWidget(new QLabel(QStringLiteral("connections"), limitGroup));
    limitLayout->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(representation);
    layout->addWidget(periodGroup);
    layout->addWidget(limitGroup);
    layout->addStretch();

    connect(m_pIpButton, &QRadioButton::clicked, this, [this] { OnHostForm(0); });
    connect(m_pNameButton, &QRadioButton::clicked, this, [this] { OnHostForm(1); });
    connect(m_pByteButton, &QRadioButton::clicked, this, [this] { OnDataUnit(0); });
    connect(m_pKiloButton, &QRadioButton::clicked, this, [this] { OnDataUnit(1); });
    connect(m_pMegaButton, &QRadioButton::clicked, this, [this] { OnDataUnit(2); });
    connect(m_pPeriodSpin, &SpinButton::stepped, this, &OptionDataDlg::OnPeriodStep);
    connect(m_pPeriodEdit, &QLineEdit::textEdited, this, [this] { SetModified(); });
    connect(m_pLimitEdit, &QLineEdit::textEdited, this, [this] { SetModified(); });
}

void OptionDataDlg::SetTable(const PMCTable* table) {
    if (table) m_pTable = table;
}

void OptionDataDlg::SetDocument(CVGLDoc* document) {
    if (!document) return;
    m_pDocument = document;
    m_UpdatePeriod = document->m_UpdatePeriod;
}

void OptionDataDlg::OnInitDialog() {
    if (m_pTable) {
        m_HostForm = m_pTable->HostForm();
        m_DataUnit = m_pTable->DataUnit();
        m_ConnectionLimit = static_cast<int32_t>(m_pTable->ConnectionLimit());
    }
    m_pNameButton->setChecked(m_HostForm == 1);
    m_pIpButton->setChecked(m_HostForm == 0);
    m_pByteButton->setChecked(m_DataUnit == 0);
    m_pKiloButton->setChecked(m_DataUnit == 1);
    m_pMegaButton->setChecked(m_DataUnit == 2);
    m_pPeriodEdit->setText(QString::number(m_UpdatePeriod));
    m_pLimitEdit->setText(QString::number(m_ConnectionLimit));
}

bool OptionDataDlg::UpdateData() {
    return ExchangeInt(*m_pPeriodEdit, MinUpdatePeriod, MaxUpdatePeriod, m_UpdatePeriod) &&
           ExchangeInt(*m_pLimitEdit, MinConnectionLimit, MaxConnectionLimit, m_ConnectionLimit);
}

void OptionDataDlg::OnHostForm(int32_t hostForm) {
    if (hostForm == m_HostForm) return;
    m_HostForm = hostForm;
    SetModified();
}

void OptionDataDlg::OnDataUnit(int32_t dataUnit) {
    if (dataUnit == m_DataUnit) return;
    m_DataUnit = dataUnit;
    SetModified();
}

void OptionDataDlg::OnPeriodStep(int direction) {
    if (!ExchangeInt(*m_pPeriodEdit, MinUpdatePeriod, MaxUpdatePeriod, m_UpdatePeriod)) return;
    const int32_t before = m_UpdatePeriod;
    m_UpdatePeriod =
        std::clamp(m_UpdatePeriod + direction * UpdatePeriodStep, MinUpdatePeriod, MaxUpdatePeriod);
    m_pPeriodEdit->setText(QString::number(m_UpdatePeriod));
    if (m_UpdatePeriod != before) SetModified();
}

void OptionDataDlg::ApplyToSession() {
    if (!m_pDocument) return;
    // The document keeps a period given while disconnected for its next connection.
    m_pDocument->SetUpdatePeriod(m_UpdatePeriod);
    if (!m_pTable) return;
    m_pDocument->SetDisplayOptions(m_HostForm, m_DataUnit);
    m_pDocument->SetConnectionLimit(m_ConnectionLimit);
}
