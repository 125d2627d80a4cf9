#include "gui/options/OptionPage.h"

#include <QLineEdit>

#include "gui/framework/Dialogs.h"

OptionPage::OptionPage(QWidget* parent) : QWidget(parent) {}

void OptionPage::EnsureInitialized() {
    if (m_bInitialized) return;
    m_bInitialized = true;
    OnInitDialog();
}

void OptionPage::SetModified() {
    m_bModified = 1;
    emit changed();
}

void OptionPage::showEvent(QShowEvent* event) {
    EnsureInitialized();
    QWidget::showEvent(event);
}

bool OptionPage::ExchangeInt(QLineEdit& edit, int low, int high, int32_t& value) {
    bool isNumber = false;
    const int number = edit.text().trimmed().toInt(&isNumber, 10);
    QString problem;
    if (!isNumber) {
        problem = QStringLiteral("Please enter an integer.");
    } else if (number < low || number > high) {
        problem = QStringLiteral("Please enter an integer between %1 and %2.").arg(low).arg(high);
    }
    if (problem.isEmpty()) {
        value = number;
        return true;
    }
    GWMessageBox(problem, edit.window());
    edit.setFocus();
    edit.selectAll();
    return false;
}
