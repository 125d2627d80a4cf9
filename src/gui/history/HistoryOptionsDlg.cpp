#include "gui/history/HistoryOptionsDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/history/HistoryRetention.h"
#include "gui/framework/Dialogs.h"
#include "gui/history/HistoryService.h"

HistoryOptionsDlg::HistoryOptionsDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("History Settings"));
    HistoryService& service = HistoryService::Instance();
    m_pRecord =
        new QCheckBox(QStringLiteral("&Record history of finished connections and traffic"), this);
    m_pRecord->setChecked(service.IsEnabled());
    m_pDays = new QSpinBox(this);
    m_pDays->setRange(MinHistoryDays, MaxHistoryDays);
    m_pDays->setSuffix(QStringLiteral(" days"));
    m_pDays->setValue(service.KeepDays());
    m_pSize = new QSpinBox(this);
    m_pSize->setRange(MinHistoryMiB, MaxHistoryMiB);
    m_pSize->setSuffix(QStringLiteral(" MiB"));
    m_pSize->setValue(service.MaxMiB());
    m_pClear = new QPushButton(QStringLiteral("&Clear History..."), this);
    auto* path = new QLabel(service.Path(), this);
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* form = new QFormLayout;
    form->addRow(m_pRecord);
    form->addRow(QStringLiteral("&Keep for:"), m_pDays);
    form->addRow(QStringLiteral("&At most:"), m_pSize);
    form->addRow(QStringLiteral("File:"), path);
    form->addRow(m_pClear);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pClear, &QPushButton::clicked, this, [this] { ClearHistory(); });
}

void HistoryOptionsDlg::accept() {
    HistoryService::Instance().SetOptions(m_pRecord->isChecked(), m_pDays->value(),
                                          m_pSize->value());
    QDialog::accept();
}

bool HistoryOptionsDlg::ClearHistory() {
    QMessageBox confirm(QMessageBox::Warning, QStringLiteral("Clear History"),
                        QStringLiteral("Delete every finished connection and all traffic recorded "
                                       "so far? This cannot be undone."),
                        QMessageBox::Yes | QMessageBox::No, this);
    confirm.setDefaultButton(QMessageBox::No);
    if (GWExecDialog(confirm) != QMessageBox::Yes) return false;
    HistoryService::Instance().Clear();
    return true;
}
