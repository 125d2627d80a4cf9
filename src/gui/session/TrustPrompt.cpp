#include "gui/session/TrustPrompt.h"

#include <QPushButton>

TrustPrompt::TrustPrompt(const std::string& monitorKey, const std::string& fingerprint,
                         QWidget* parent)
    : QMessageBox(parent) {
    setObjectName(QStringLiteral("TrustPrompt"));
    setIcon(QMessageBox::Question);
    setWindowTitle(QStringLiteral("Trust Monitor"));
    setText(QStringLiteral("The monitor %1 presents the identity %2 which VGL has not seen "
                           "before. Trust it?")
                .arg(QString::fromStdString(monitorKey), QString::fromStdString(fingerprint)));
    setInformativeText(
        QStringLiteral("Compare the fingerprint with the one the monitor's administrator "
                       "gives you. Once trusted, VGL refuses any other identity from this "
                       "monitor."));
    // The fingerprint is read aloud or pasted into a chat to be compared.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_pTrust = addButton(QStringLiteral("Trust"), QMessageBox::AcceptRole);
    m_pDontTrust = addButton(QStringLiteral("Don't Trust"), QMessageBox::RejectRole);
    setDefaultButton(m_pDontTrust);
    setEscapeButton(m_pDontTrust);
}

bool TrustPrompt::IsTrusted() const {
    return clickedButton() == m_pTrust;
}
