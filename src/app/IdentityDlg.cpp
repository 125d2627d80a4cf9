#include "app/IdentityDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/IdentityCommand.h"
#include "gui/framework/ProfileSettings.h"

IdentityDlg::IdentityDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Monitor Identity"));
    setObjectName(QStringLiteral("IdentityDlg"));
    QString message;
    const bool made = IdentityCommand::Fingerprint(m_Fingerprint, message);

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    // A read-only line rather than a label: it is selected whole with one
    // click and never wraps inside the fingerprint.
    m_pFingerprint = new QLineEdit(m_Fingerprint, this);
    m_pFingerprint->setObjectName(QStringLiteral("fingerprint"));
    m_pFingerprint->setReadOnly(true);
    m_pFingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QFontMetrics metrics(m_pFingerprint->font());
    m_pFingerprint->setMinimumWidth(metrics.horizontalAdvance(m_Fingerprint) + 24);
    m_pCopy = new QPushButton(QStringLiteral("&Copy"), this);
    m_pCopy->setObjectName(QStringLiteral("copy"));
    connect(m_pCopy, &QPushButton::clicked, this, &IdentityDlg::CopyFingerprint);
    auto* line = new QHBoxLayout;
    line->addWidget(m_pFingerprint, 1);
    line->addWidget(m_pCopy);
    layout->addLayout(line);
    auto* path = new QLabel(
        QStringLiteral("Kept in %1").arg(ProfileSettings::IdentityPath().toHtmlEscaped()), this);
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(path);

    if (made) {
        intro->setText(QStringLiteral(
            "VGL presents this identity to the monitors it reaches over TLS. A monitor "
            "lets VGL in once its administrator lists this fingerprint in its "
            "--monitor-clients file:"));
    } else {
        intro->setText(QStringLiteral("VGL has no identity to present to monitors over TLS:\n%1")
                           .arg(message));
        m_pFingerprint->hide();
        m_pCopy->hide();
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(460);
}

void IdentityDlg::CopyFingerprint() {
    if (HasIdentity()) QApplication::clipboard()->setText(m_Fingerprint);
}
