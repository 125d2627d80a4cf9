#pragma once
// Help > Monitor Identity: the fingerprint of this client's identity, for
// the monitors' --monitor-clients files, with a Copy button and the file it
// is kept in; the reason instead when the identity cannot be made or used.

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

class IdentityDlg : public QDialog {
    Q_OBJECT
public:
    explicit IdentityDlg(QWidget* parent = nullptr);

    bool HasIdentity() const { return !m_Fingerprint.isEmpty(); }
    const QString& Fingerprint() const { return m_Fingerprint; }
    QPushButton* CopyButton() const { return m_pCopy; }
    // Puts the fingerprint on the clipboard.
    void CopyFingerprint();

private:
    QString m_Fingerprint;
    QLineEdit* m_pFingerprint = nullptr;
    QPushButton* m_pCopy = nullptr;
};
