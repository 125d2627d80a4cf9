#include "gui/session/ServerNameDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

ServerNameDlg::ServerNameDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("SOCKS5 Server"));
    setObjectName(QStringLiteral("ServerNameDlg"));

    auto* prompt = new QLabel(QStringLiteral("Please enter name for SOCKS5 server:"), this);
    m_pNameEdit = new QLineEdit(this);
    m_pNameEdit->setObjectName(QStringLiteral("serverName"));
    // A monitor on another port, or on IPv6, is named as in a browser; one
    // across the internet is reached over TLS or through ssh.
    m_pNameEdit->setPlaceholderText(QStringLiteral("host[:port], tls://host or ssh://user@host"));
    m_pNameEdit->setToolTip(QStringLiteral(
        "host, host:port, ::1 or [::1]:port in plain text;\ntls://host[:port] over TLS, the "
        "monitor's identity checked;\nssh://[user@]host[:sshport][/monitor-host[:port]] "
        "through ssh"));
    prompt->setBuddy(m_pNameEdit);

    m_pOk = new QPushButton(QStringLiteral("OK"), this);
    m_pOk->setDefault(true);
    m_pOk->setAutoDefault(true);
    m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancel->setAutoDefault(false);
    connect(m_pOk, &QPushButton::clicked, this, &ServerNameDlg::accept);
    connect(m_pCancel, &QPushButton::clicked, this, &ServerNameDlg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pOk);
    buttons->addStretch(1);
    buttons->addWidget(m_pCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_pNameEdit);
    layout->addSpacing(12);
    layout->addLayout(buttons);

    // About the size of the original 190 by 87 dialog units.
    setMinimumWidth(290);
    m_pNameEdit->setFocus();
}

void ServerNameDlg::accept() {
    m_Name = m_pNameEdit->text();
    QDialog::accept();
}
