#pragma once
// Asks for the host name of the SOCKS5 server whose monitor a session
// connects to. The name is empty when the dialog is shown and is taken from
// the edit field when the user presses OK.

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

class ServerNameDlg : public QDialog {
    Q_OBJECT
public:
    explicit ServerNameDlg(QWidget* parent = nullptr);

    QLineEdit* NameEdit() const { return m_pNameEdit; }
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }

    void accept() override;  // takes the name as typed

    QString m_Name;

private:
    QLineEdit* m_pNameEdit = nullptr;
    QPushButton* m_pOk = nullptr;
    QPushButton* m_pCancel = nullptr;
};
