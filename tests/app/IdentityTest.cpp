// The client's identity as the user reaches it: `vgl --identity` and
// Help > Monitor Identity.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/IdentityDlg.h"
#include "gui/framework/ProfileSettings.h"

namespace {

TEST(IdentityTest, VglIdentityPrintsTheFingerprintAndRefusesAnUnsafeFile) {
    QTemporaryDir config;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", config.path());
    auto run = [&](QByteArray& out, QByteArray& err) {
        QProcess vgl;
        vgl.setProcessEnvironment(environment);
        vgl.start(VGL_BINARY, {"--identity"});
        EXPECT_TRUE(vgl.waitForFinished(30000));
        out = vgl.readAllStandardOutput();
        err = vgl.readAllStandardError();
        return vgl.exitCode();
    };
    QByteArray first, second, err;
    ASSERT_EQ(run(first, err), 0) << err.constData();
    EXPECT_TRUE(first.startsWith("SHA256:")) << first.constData();
    EXPECT_EQ(first.trimmed().size(), 7 + 43);
    ASSERT_EQ(run(second, err), 0);
    EXPECT_EQ(second, first);  // made once, then kept

    const QString pem = config.filePath("VGL/identity.pem");
    ASSERT_TRUE(
        QFile::setPermissions(pem, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    EXPECT_EQ(run(second, err), 1);
    EXPECT_TRUE(second.isEmpty());
    EXPECT_TRUE(err.contains("chmod 600")) << err.constData();
}

TEST(IdentityTest, TheDialogsCopyPutsTheFingerprintOnTheClipboard) {
    IdentityDlg dialog;
    ASSERT_TRUE(dialog.HasIdentity());
    EXPECT_TRUE(dialog.Fingerprint().startsWith("SHA256:"));
    QApplication::clipboard()->clear();
    dialog.CopyButton()->click();
    EXPECT_EQ(QApplication::clipboard()->text(), dialog.Fingerprint());
    EXPECT_TRUE(QFile::exists(ProfileSettings::IdentityPath()));
}

}  // namespace
