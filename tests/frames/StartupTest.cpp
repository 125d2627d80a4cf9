// Start-up: the command line, what it opens and connects, the About box, and
// the instance limit between two real processes.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

#include "frames/FramesFixture.h"
#include "framework/CommandIds.h"
#include "support/FakeMonitor.h"

namespace {

CommandLineAction Parse(const QStringList& arguments, VGLCommandLine& commandLine,
                        QString& message) {
    return ParseCommandLine(QStringList{"vgl"} + arguments, commandLine, message);
}

}  // namespace

TEST(CommandLineTest, ReadsFilesHostsAndAPeriodFrom5To120) {
    VGLCommandLine line;
    QString message;
    ASSERT_EQ(Parse({"a.vgl", "--connect", "gate", "--period", "5", "--connect=10.0.0.1", "b.vgl"},
                    line, message),
              CommandLineAction::Run);
    EXPECT_EQ(line.m_Files, QStringList({"a.vgl", "b.vgl"}));
    EXPECT_EQ(line.m_ConnectHosts, QStringList({"gate", "10.0.0.1"}));
    EXPECT_EQ(line.m_Period, 5);
    for (const QStringList& bad : std::vector<QStringList>{{"--connect", "gate", "--period", "4"},
                                                           {"--connect", "gate", "--period", "121"},
                                                           {"--connect", "gate", "--period", "x"},
                                                           {"--period", "30"},
                                                           {"--connect", " "},
                                                           {"--bogus"}}) {
        EXPECT_EQ(Parse(bad, line, message), CommandLineAction::Error)
            << bad.join(' ').toStdString();
    }
    ASSERT_EQ(Parse({"--help"}, line, message), CommandLineAction::Help);
    EXPECT_FALSE(message.contains("--screenshot"));  // a demo aid, not for users
}

class StartupTest : public FramesTest {};

TEST_F(StartupTest, NoArgumentOpensOneNewUnconnectedSession) {
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Main().isVisible());
    EXPECT_EQ(Main().windowTitle(), "VGL - [VGL1]");  // the maximised session's title added
    ASSERT_EQ(Documents().size(), 1u);
    EXPECT_EQ(Documents().front()->GetTitle(), "VGL1");
    EXPECT_NE(Documents().front()->m_bDisconnected, 0);
    EXPECT_EQ(m_pApp->m_MaxInstances, 1u);
    EXPECT_EQ(m_pApp->GetDocTemplates().front()->GetFilterName(), "VGL Files (*.vgl)");
    EXPECT_TRUE(m_Messages.isEmpty());
    EXPECT_EQ(m_nNameDialogs, 0);
}

TEST_F(StartupTest, FilesOnTheCommandLineOpenAsSessionsAndEnterTheRecentList) {
    QTemporaryDir folder;
    VGLCommandLine commandLine;
    for (int i = 1; i <= 5; ++i) {
        const QString path = folder.filePath(QStringLiteral("watch%1.vgl").arg(i));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        commandLine.m_Files << path;
    }
    ASSERT_TRUE(Start(commandLine));
    ASSERT_EQ(Documents().size(), 5u);
    EXPECT_EQ(Documents().front()->GetTitle(), "watch1.vgl");
    EXPECT_EQ(Documents().front()->GetPathName(),
              QDir(folder.path()).absoluteFilePath("watch1.vgl"));
    EXPECT_NE(Documents().front()->m_bDisconnected, 0);
    // The profile keeps the four most recent.
    const QStringList recent = m_pApp->GetRecentFileList();
    ASSERT_EQ(recent.size(), 4);
    EXPECT_TRUE(recent.front().endsWith("watch5.vgl"));
}

TEST_F(StartupTest, AFileThatCannotBeOpenedEndsStartUp) {
    QTemporaryDir folder;
    VGLCommandLine commandLine;
    commandLine.m_Files << folder.filePath("missing.vgl");
    EXPECT_FALSE(Start(commandLine));
    ASSERT_EQ(m_Messages.size(), 1);
    EXPECT_TRUE(m_Messages.front().contains("missing.vgl"));
}

TEST_F(StartupTest, ConnectOpensASessionConnectedToTheMonitorWithThePeriod) {
    FakeMonitor monitor;
    const QString host = QString::fromStdString(monitor.Host());
    VGLCommandLine commandLine;
    commandLine.m_ConnectHosts << host;
    commandLine.m_Period = 7;
    ASSERT_TRUE(Start(commandLine));
    ASSERT_EQ(Documents().size(), 1u);  // no extra unconnected session
    m_pApp->ConnectCommandLineSessions();
    m_pApp->ConnectCommandLineSessions();  // the queued call finds nothing more to do
    // While the connect is in flight its frame says so, under a busy cursor of its own.
    auto* frame = dynamic_cast<CChildFrame*>(Main().Worksheets().front());
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->GetStatusLine()->text(), "Connecting to " + host + QChar(0x2026));
    EXPECT_EQ(frame->cursor().shape(), Qt::BusyCursor);
    EXPECT_FALSE(Main().testAttribute(Qt::WA_SetCursor));
    ASSERT_TRUE(SettleAll());
    EXPECT_EQ(frame->GetStatusLine()->text(), "Ready");
    EXPECT_FALSE(frame->testAttribute(Qt::WA_SetCursor));

    CVGLDoc* session = Documents().front();
    EXPECT_EQ(session->m_bDisconnected, 0);
    EXPECT_EQ(session->GetTitle(), "Connected to Socks5 server -- " + host);
    EXPECT_EQ(session->m_UpdatePeriod, 7);
    EXPECT_TRUE(session->HasTimerClient());
    EXPECT_EQ(session->TimerClientPeriod(), 7);
    EXPECT_EQ(monitor.ConnectionCount(), 1u);
    EXPECT_GE(monitor.RequestCount(), 1u);  // polled at once
    EXPECT_EQ(m_nNameDialogs, 0);
    EXPECT_EQ(CMainFrame::TabLabelText(Main().TabLabel(Main().Worksheets().front())), host);
    EXPECT_EQ(Main().windowTitle(), "VGL - [Connected to Socks5 server -- " + host + "]");
}

// As for a name typed in the dialog: the message, then the dialog, over the
// main window and with the name given kept for correcting.
TEST_F(StartupTest, AHostThatCannotBeReachedGetsTheMessageThenTheDialogWithItsName) {
    QString deadHost;
    {
        FakeMonitor gone;
        deadHost = QString::fromStdString(gone.Host());
    }
    FakeMonitor monitor;
    VGLCommandLine commandLine;
    commandLine.m_ConnectHosts << deadHost;
    commandLine.m_Period = 9;
    ASSERT_TRUE(Start(commandLine));
    m_Answers = {monitor.Host()};
    m_bShowNameDialogs = true;
    m_pApp->ConnectCommandLineSessions();
    ASSERT_TRUE(SettleAll());

    EXPECT_EQ(m_Messages, QStringList{"The Socks5 server name is Invalid\nor the Socks5 vigil is "
                                      "not running on the server."});
    EXPECT_EQ(m_NameDialogTexts, QStringList{deadHost});
    EXPECT_EQ(m_pNameDialogParent, &Main());
    EXPECT_LE((m_NameDialogCentre - Main().frameGeometry().center()).manhattanLength(), 4);
    ASSERT_EQ(Documents().size(), 1u);
    EXPECT_EQ(Documents()[0]->m_bDisconnected, 0);  // named in the dialog
    EXPECT_EQ(Documents()[0]->TimerClientPeriod(), 9);
}

TEST_F(StartupTest, AboutShowsTheBoxAndChangesNothing) {
    ASSERT_TRUE(Start());
    QStringList texts;
    m_OtherDialog = [&texts](QDialog& dialog) {
        texts << dialog.windowTitle();
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            texts << (label->pixmap().isNull() ? label->text() : "<icon>");
        }
        dialog.findChild<QPushButton*>()->click();
        return dialog.result();
    };
    ASSERT_TRUE(Run(cmd::AppAbout));
    EXPECT_EQ(texts,
              QStringList({"About Socks Vigil Client", "<icon>", "Socks Vigil beta version 2.0"}));
    EXPECT_EQ(Documents().size(), 1u);
}

// Two real processes of the program: while one runs, a second start says so
// and ends; once the first has gone (here killed, as a crash would end it)
// the next start succeeds.
TEST(InstanceLimitTest, ASecondProcessIsRefusedUntilTheFirstHasEnded) {
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VGL_LOCK_DIR", home.filePath("locks"));
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_RUNTIME_DIR", home.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("VGL_NO_MODAL", "1");
    const auto startVgl = [&](QProcess& process, const QStringList& arguments) {
        process.setProcessEnvironment(environment);
        process.start(VGL_BINARY, arguments);
        return process.waitForStarted();
    };

    QProcess first;
    ASSERT_TRUE(startVgl(first, {"--report-ready"}));
    QByteArray firstOutput;
    while (!firstOutput.contains("vgl: ready") && first.waitForReadyRead(60000)) {
        firstOutput += first.readAllStandardOutput();
    }
    ASSERT_TRUE(firstOutput.contains("vgl: ready")) << first.readAllStandardError().toStdString();

    QProcess second;
    ASSERT_TRUE(startVgl(second, {"--report-ready"}));
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains(
        "Maximum instances of this application are already running!"));
    EXPECT_FALSE(second.readAllStandardOutput().contains("vgl: ready"));
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill();
    ASSERT_TRUE(first.waitForFinished(60000));

    QProcess third;
    const QString shot = home.filePath("third.png");
    ASSERT_TRUE(startVgl(third, {"--screenshot", shot, "--polls", "0"}));
    ASSERT_TRUE(third.waitForFinished(60000));
    EXPECT_EQ(third.exitCode(), 0) << third.readAllStandardError().toStdString();
    EXPECT_TRUE(QFile::exists(shot));
}
