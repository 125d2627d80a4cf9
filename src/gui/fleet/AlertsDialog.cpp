#include "gui/fleet/AlertsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QListWidget>
#include <QSpinBox>

#include "gui/fleet/AlertRulesJson.h"
#include "gui/fleet/FleetAlerts.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/ProfileSettings.h"

namespace {

const AlertKind Kinds[] = {AlertKind::ServerLost, AlertKind::FailedLogins, AlertKind::UserRate,
                           AlertKind::UserVolume, AlertKind::FilterCount};

QString ListText(const AlertRule& rule) {
    return QStringLiteral("%1%2 — %3")
        .arg(rule.m_bEnabled ? QString() : QStringLiteral("(off) "),
             QString::fromStdString(rule.m_Name),
             QString::fromLatin1(AlertRule::KindName(rule.m_Kind)));
}

}  // namespace

AlertsDialog::AlertsDialog(QWidget* parent) : QDialog(parent), m_Rules(FleetAlerts::Get().Rules()) {
    setWindowTitle(QStringLiteral("Alerts"));
    m_pList = new QListWidget(this);
    auto* add = new QPushButton(QStringLiteral("&Add"), this);
    auto* remove = new QPushButton(QStringLiteral("&Remove"), this);
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(add);
    listButtons->addWidget(remove);
    listButtons->addStretch();
    auto* listColumn = new QVBoxLayout;
    listColumn->addWidget(new QLabel(QStringLiteral("Rules:"), this));
    listColumn->addWidget(m_pList, 1);
    listColumn->addLayout(listButtons);

    auto* rules = new QHBoxLayout;
    rules->addLayout(listColumn, 2);
    rules->addWidget(BuildEditor(), 3);

    auto* general = new QGroupBox(QStringLiteral("Notifications"), this);
    auto* generalForm = new QFormLayout(general);
    m_pQuiet = new QSpinBox(general);
    m_pQuiet->setRange(1, 24 * 60);
    m_pQuiet->setSuffix(QStringLiteral(" min"));
    m_pQuiet->setValue(FleetAlerts::Get().QuietMinutes());
    generalForm->addRow(QStringLiteral("Tell a rule again for a server after:"), m_pQuiet);
    m_pCloseToTray =
        new QCheckBox(QStringLiteral("Closing the main window keeps VGL in the tray"), general);
    m_pCloseToTray->setChecked(ProfileSettings::CloseToTray());
    generalForm->addRow(m_pCloseToTray);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(rules, 1);
    layout->addWidget(general);
    layout->addWidget(buttons);

    for (const AlertRule& rule : m_Rules) m_pList->addItem(ListText(rule));
    connect(m_pList, &QListWidget::currentRowChanged, this, &AlertsDialog::ShowRule);
    connect(add, &QPushButton::clicked, this, &AlertsDialog::AddRule);
    connect(remove, &QPushButton::clicked, this, &AlertsDialog::RemoveRule);
    connect(buttons, &QDialogButtonBox::accepted, this, &AlertsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AlertsDialog::reject);
    m_pList->setCurrentRow(m_Rules.empty() ? -1 : 0);
    ShowRule(m_pList->currentRow());
    resize(760, 460);
}

QWidget* AlertsDialog::BuildEditor() {
    auto* box = new QGroupBox(QStringLiteral("Rule"), this);
    auto* form = new QFormLayout(box);
    m_pName = new QLineEdit(box);
    m_pKind = new QComboBox(box);
    for (AlertKind kind : Kinds) m_pKind->addItem(QString::fromLatin1(AlertRule::KindName(kind)));
    m_pEnabled = new QCheckBox(QStringLiteral("On"), box);
    m_pThreshold = new QDoubleSpinBox(box);
    m_pThreshold->setRange(0, 1e12);
    m_pThreshold->setDecimals(1);
    m_pThresholdUnit = new QLabel(box);
    auto* threshold = new QHBoxLayout;
    threshold->addWidget(m_pThreshold, 1);
    threshold->addWidget(m_pThresholdUnit);
    m_pMinutes = new QSpinBox(box);
    m_pMinutes->setRange(1, 24 * 60);
    m_pMinutes->setSuffix(QStringLiteral(" min"));
    m_pPerClient = new QCheckBox(QStringLiteral("Count each client address apart"), box);
    m_pPeriod = new QComboBox(box);
    m_pPeriod->addItems({QStringLiteral("a day (UTC)"), QStringLiteral("a month (UTC)")});
    m_pFilter = new QLineEdit(box);
    m_pFilter->setPlaceholderText(QStringLiteral("dest:10.0.0.0/8, result:\"not allowed\"..."));
    m_pDescription = new QLabel(box);
    m_pDescription->setWordWrap(true);
    form->addRow(QStringLiteral("&Name:"), m_pName);
    form->addRow(QStringLiteral("&Watch:"), m_pKind);
    form->addRow(QString(), m_pEnabled);
    form->addRow(QStringLiteral("More than:"), threshold);
    form->addRow(QStringLiteral("&For / within:"), m_pMinutes);
    form->addRow(QString(), m_pPerClient);
    form->addRow(QStringLiteral("&Quota of:"), m_pPeriod);
    form->addRow(QStringLiteral("F&ilter line:"), m_pFilter);
    form->addRow(m_pDescription);
    for (QLineEdit* edit : {m_pName, m_pFilter})
        connect(edit, &QLineEdit::textEdited, this, &AlertsDialog::TakeEdits);
    connect(m_pKind, &QComboBox::currentIndexChanged, this, [this] {
        TakeEdits();
        SuitKind();
    });
    connect(m_pEnabled, &QCheckBox::toggled, this, &AlertsDialog::TakeEdits);
    connect(m_pPerClient, &QCheckBox::toggled, this, &AlertsDialog::TakeEdits);
    connect(m_pPeriod, &QComboBox::currentIndexChanged, this, &AlertsDialog::TakeEdits);
    connect(m_pThreshold, &QDoubleSpinBox::valueChanged, this, &AlertsDialog::TakeEdits);
    connect(m_pMinutes, &QSpinBox::valueChanged, this, &AlertsDialog::TakeEdits);
    return box;
}

// Rates are set in kB a second and quotas in MB; counts as they are.
double AlertsDialog::Unit(AlertKind kind) {
    if (kind == AlertKind::UserRate) return 1e3;
    if (kind == AlertKind::UserVolume) return 1e6;
    return 1;
}

void AlertsDialog::ShowRule(int row) {
    m_Current = row >= 0 && row < static_cast<int>(m_Rules.size()) ? row : -1;
    m_bShowing = true;
    const AlertRule rule = m_Current >= 0 ? m_Rules[size_t(m_Current)] : AlertRule();
    m_pName->setText(QString::fromStdString(rule.m_Name));
    m_pKind->setCurrentIndex(static_cast<int>(rule.m_Kind));
    m_pEnabled->setChecked(rule.m_bEnabled);
    m_pThreshold->setValue(rule.m_Threshold / Unit(rule.m_Kind));
    m_pMinutes->setValue(rule.m_Minutes);
    m_pPerClient->setChecked(rule.m_bPerClient);
    m_pPeriod->setCurrentIndex(rule.m_bMonthly ? 1 : 0);
    m_pFilter->setText(QString::fromStdString(rule.m_Filter));
    m_bShowing = false;
    for (QWidget* editor :
         std::initializer_list<QWidget*>{m_pName, m_pKind, m_pEnabled, m_pThreshold, m_pMinutes,
                                         m_pPerClient, m_pPeriod, m_pFilter}) {
        editor->setEnabled(m_Current >= 0);
    }
    SuitKind();
}

// Only the editors that mean something for the kind can be used.
void AlertsDialog::SuitKind() {
    const AlertKind kind = Kinds[std::max(0, m_pKind->currentIndex())];
    const bool on = m_Current >= 0;
    m_pThreshold->setEnabled(on && kind != AlertKind::ServerLost);
    m_pMinutes->setEnabled(on && (kind == AlertKind::UserRate || kind == AlertKind::FilterCount));
    m_pPerClient->setEnabled(on && kind == AlertKind::FailedLogins);
    m_pPeriod->setEnabled(on && kind == AlertKind::UserVolume);
    m_pFilter->setEnabled(on && kind == AlertKind::FilterCount);
    const char* unit = kind == AlertKind::FailedLogins  ? "failed logins a minute"
                       : kind == AlertKind::UserRate    ? "kB/s"
                       : kind == AlertKind::UserVolume  ? "MB"
                       : kind == AlertKind::FilterCount ? "connections"
                                                        : "";
    m_pThresholdUnit->setText(QString::fromLatin1(unit));
    m_pDescription->setText(
        m_Current >= 0 ? QStringLiteral("Fires when %1.")
                             .arg(QString::fromStdString(m_Rules[size_t(m_Current)].Describe()))
                       : QString());
}

void AlertsDialog::TakeEdits() {
    if (m_bShowing || m_Current < 0) return;
    AlertRule& rule = m_Rules[size_t(m_Current)];
    rule.m_Name = m_pName->text().trimmed().toStdString();
    rule.m_Kind = Kinds[std::max(0, m_pKind->currentIndex())];
    rule.m_bEnabled = m_pEnabled->isChecked();
    rule.m_Threshold = m_pThreshold->value() * Unit(rule.m_Kind);
    rule.m_Minutes = m_pMinutes->value();
    rule.m_bPerClient = m_pPerClient->isChecked();
    rule.m_bMonthly = m_pPeriod->currentIndex() == 1;
    rule.m_Filter = m_pFilter->text().trimmed().toStdString();
    m_pList->item(m_Current)->setText(ListText(rule));
    SuitKind();
}

void AlertsDialog::AddRule() {
    AlertRule rule;
    rule.m_Kind = AlertKind::FilterCount;
    rule.m_Name = "New rule";
    rule.m_Threshold = 10;
    rule.m_Minutes = 5;
    m_Rules.push_back(rule);
    m_pList->addItem(ListText(rule));
    m_pList->setCurrentRow(static_cast<int>(m_Rules.size()) - 1);
    m_pName->setFocus();
    m_pName->selectAll();
}

void AlertsDialog::RemoveRule() {
    const int row = m_pList->currentRow();
    if (row < 0) return;
    m_Rules.erase(m_Rules.begin() + row);
    m_Current = -1;
    delete m_pList->takeItem(row);
    ShowRule(m_pList->currentRow());
}

void AlertsDialog::accept() {
    for (size_t i = 0; i < m_Rules.size(); ++i) {
        const std::string problem = m_Rules[i].Problem();
        if (problem.empty()) continue;
        m_pList->setCurrentRow(static_cast<int>(i));
        GWMessageBox(
            QStringLiteral("The rule \"%1\" cannot be kept. %2")
                .arg(QString::fromStdString(m_Rules[i].m_Name), QString::fromStdString(problem)),
            this);
        return;
    }
    ProfileSettings::SetAlerts(AlertRulesToJson(m_Rules), m_pQuiet->value(),
                               m_pCloseToTray->isChecked());
    FleetAlerts::Get().SetRules(m_Rules, m_pQuiet->value());
    QDialog::accept();
}
