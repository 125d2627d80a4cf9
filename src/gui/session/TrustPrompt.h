#pragma once
// The question a session asks when its tls:// monitor presents an identity
// that is not pinned yet: trust it (pin it and connect) or not (stay
// disconnected). "Don't Trust" is the default, so that a hurried Enter never
// pins a stranger.

#include <QMessageBox>
#include <string>

class QPushButton;

class TrustPrompt : public QMessageBox {
    Q_OBJECT
public:
    TrustPrompt(const std::string& monitorKey, const std::string& fingerprint, QWidget* parent);

    QPushButton* TrustButton() const { return m_pTrust; }
    QPushButton* DontTrustButton() const { return m_pDontTrust; }
    // The user answered Trust (false for any other way of closing).
    bool IsTrusted() const;

private:
    QPushButton* m_pTrust = nullptr;
    QPushButton* m_pDontTrust = nullptr;
};
