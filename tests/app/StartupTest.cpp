// Start-up: the command line, what it opens and connects, the About box, and
// the instance limit between two real processes.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app/FramesFixture.h"
#include "app/InstanceLock.h"
#include "gui/framework/CommandIds.h"
#include "gui/grid/ConnectionPane.h"
#include "support/FakeMonitor.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

CommandLineAction Parse(const QStringList& arguments, VGLCommandLine& commandLine,
                        QString& message) {
    return ParseCommandLine(QStringList{"vgl"} + arguments, commandLine, message);
}

}  // namespace

TEST(CommandLineTest, ReadsFilesHostsAndAPeriodFrom5To120) {
    VGLCommandLine line;
    QString message;
    ASSERT_EQ(Parse({"a.vgl", "--connect", "gate", "--period", "5", "--connect=10.0.0.1", "b.vgl",
                     "--keep", "2000", "--filter", "user:bob -dest:10.0.0.0/8", "--group-by",
                     "Destination"},
                    line, message),
              CommandLineAction::Run);
    EXPECT_EQ(line.m_Filter, "user:bob -dest:10.0.0.0/8");
    EXPECT_EQ(line.m_GroupBy, "destination");
    EXPECT_EQ(line.m_Files, QStringList({"a.vgl", "b.vgl"}));
    EXPECT_EQ(line.m_ConnectHosts, QStringList({"gate", "10.0.0.1"}));
    EXPECT_EQ(line.m_Period, 5);
    EXPECT_EQ(line.m_Keep, 2000);
    // What a later start hands over reads back as the same sessions, with
    // the files made absolute; a screenshot run keeps its sessions.
    VGLCommandLine handed;
    ASSERT_EQ(ParseCommandLine(QStringList{"vgl"} + HandOverArguments(line), handed, message),
              CommandLineAction::Run);
    EXPECT_EQ(handed.m_Files, QStringList({QDir::current().absoluteFilePath("a.vgl"),
                                           QDir::current().absoluteFilePath("b.vgl")}));
    EXPECT_EQ(handed.m_ConnectHosts, line.m_ConnectHosts);
    EXPECT_EQ(handed.m_Period, 5);
    EXPECT_EQ(handed.m_Keep, 2000);
    EXPECT_EQ(handed.m_Filter, line.m_Filter);
    EXPECT_EQ(handed.m_GroupBy, line.m_GroupBy);
    line.m_ScreenshotPath = "shot.png";
    EXPECT_TRUE(HandOverArguments(line).isEmpty());
    for (const QStringList& bad :
         std::vector<QStringList>{{"--connect", "gate", "--period", "4"},
                                  {"--connect", "gate", "--period", "121"},
                                  {"--connect", "gate", "--period", "x"},
                                  {"--period", "30"},
                                  {"--connect", "gate", "--keep", "0"},
                                  {"--connect", "gate", "--keep", "100001"},
                                  {"--keep", "100"},
                                  {"--connect", " "},
                                  {"--connect", "gate:0"},
                                  {"--connect", "[::1]:65536"},
                                  {"--filter", "bob"},
                                  {"--connect", "gate", "--group-by", "host"},
                                  {"--bogus"}}) {
        EXPECT_EQ(Parse(bad, line, message), CommandLineAction::Error)
            << bad.join(' ').toStdString();
    }
    ASSERT_EQ(Parse({"--help"}, line, message), CommandLineAction::Help);
    EXPECT_FALSE(message.contains("--screenshot"));  // a demo aid, not for users
    EXPECT_TRUE(message.contains("5051")) << message.toStdString();
    EXPECT_TRUE(message.contains("60 unless given")) << message.toStdString();
}

// Qt's own options are left to Qt, precisely: with their value, after one
// or two dashes, or joined by '=' where Qt takes that form.
TEST(CommandLineTest, QtsOwnOptionsAreLeftToQt) {
    VGLCommandLine line;
    QString message;
    ASSERT_EQ(Parse({"-style", "Fusion", "--connect", "gate", "-stylesheet", "dark.qss",
                     "--platform", "offscreen", "-reverse", "-style=Windows",
                     "-qmljsdebugger=port:3768", "--filter", "-reverse", "a.vgl"},
                    line, message),
              CommandLineAction::Run)
        << message.toStdString();
    EXPECT_EQ(line.m_Files, QStringList{"a.vgl"});
    EXPECT_EQ(line.m_ConnectHosts, QStringList{"gate"});
    EXPECT_EQ(line.m_Filter, "-reverse");  // the value of an option of ours
    ASSERT_EQ(Parse({"a.vgl", "-platform"}, line, message), CommandLineAction::Error);
    EXPECT_EQ(message, "Missing value after '-platform'.");
    for (const QStringList& bad : std::vector<QStringList>{
             {"-styles", "x"}, {"-platform=offscreen"}, {"-reverse=1"}, {"-qmljsdebugger"}}) {
        EXPECT_EQ(Parse(bad, line, message), CommandLineAction::Error)
            << bad.join(' ').toStdString();
    }
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
    commandLine.m_Filter = "user:bob";
    commandLine.m_GroupBy = "user";
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
    EXPECT_EQ(session->FilterText(), "user:bob");
    EXPECT_EQ(frame->GetConnectionPane()->FilterEdit()->text(), "user:bob");
    EXPECT_EQ(frame->GetConnectionPane()->ShownGrid(), frame->GetConnectionPane()->GroupView());
    EXPECT_TRUE(m_pApp->UpdateCommand(cmd::GroupByUser).m_bChecked);
    EXPECT_TRUE(m_pApp->UpdateCommand(cmd::Export).m_bEnabled);  // while connected, too
    EXPECT_EQ(monitor.ConnectionCount(), 1u);
    EXPECT_GE(monitor.RequestCount(), 1u);  // polled at once
    EXPECT_EQ(m_nNameDialogs, 0);
    EXPECT_EQ(CMainFrame::TabLabelText(Main().TabLabel(Main().Worksheets().front())), host);
    EXPECT_EQ(Main().windowTitle(), "VGL - [Connected to Socks5 server -- " + host + "]");

    // What the command line set up is not a change of the user's: Exit asks nothing.
    EXPECT_FALSE(session->IsModified());
    ASSERT_TRUE(Run(cmd::AppExit));
    Settle();
    EXPECT_EQ(m_nOtherDialogs, 0);
    EXPECT_TRUE(Documents().empty());
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
    // The dialog centres on the main window as it stands: shown and maximised.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Main()));
    m_Answers = {monitor.Host()};
    m_bShowNameDialogs = true;
    Settle();  // the window takes its maximised size before the dialog is centred on it
    m_pApp->ConnectCommandLineSessions();
    ASSERT_TRUE(SettleAll());

    EXPECT_EQ(m_Messages, QStringList{"The Socks5 server name is Invalid\nor the Socks5 vigil is "
                                      "not running on the server."});
    EXPECT_EQ(m_NameDialogTexts, QStringList{deadHost});
    EXPECT_EQ(m_pNameDialogParent, &Main());
    EXPECT_LE(m_NameDialogOffset.manhattanLength(), 4);
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

// Sends bytes to the running instance's hand-over socket as a later start
// would, and returns what it answers before it closes the connection.
QByteArray HandOver(const QString& serverName, const QByteArray& bytes) {
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(10000)) return "<no connection>";
    socket.write(bytes);
    socket.flush();
    QByteArray reply;
    const QDeadlineTimer deadline(30000);
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        socket.waitForReadyRead(10);
        reply += socket.readAll();
    }
    return reply + socket.readAll();
}

// Whatever reaches the socket, only a well-formed message that names files
// or hosts opens anything: the rest is dropped and the instance carries on.
TEST_F(StartupTest, AHandOverOpensFilesAndSessionsAndMalformedOnesAreIgnored) {
    ASSERT_TRUE(Start());
    const QString server = m_pApp->HandOverServerName();
    ASSERT_FALSE(server.isEmpty());
    QByteArray invalidUtf8 = InstanceLock::Encode({"x.vgl"});
    invalidUtf8[invalidUtf8.size() - 4] = char(0xff);
    QByteArray trailing = InstanceLock::Encode({"x.vgl"}) + "more";
    for (const QByteArray& malformed :
         {QByteArray("GET / HTTP/1.0\r\n\r\n"), invalidUtf8, trailing,
          InstanceLock::Encode({QString(2 << 20, QChar(0x78))}).chopped(2)}) {
        EXPECT_EQ(HandOver(server, malformed), "");
    }
    for (const QStringList& meaningless : {QStringList{"--help"}, QStringList{"--bogus"}}) {
        HandOver(server, InstanceLock::Encode(meaningless));
    }
    EXPECT_EQ(Documents().size(), 1u);
    EXPECT_TRUE(m_Messages.isEmpty());

    FakeMonitor monitor;
    QTemporaryDir folder;
    const QString path = folder.filePath("handed.vgl");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QString host = QString::fromStdString(monitor.Host());
    EXPECT_EQ(HandOver(server, InstanceLock::Encode(
                                   {path, "--connect=" + host, "--period=7", "--screenshot=x"})),
              "ok\n");
    ASSERT_EQ(Documents().size(), 3u);
    EXPECT_EQ(Documents()[1]->GetPathName(), path);
    EXPECT_EQ(Documents()[2]->m_UpdatePeriod, 7);
    const QDeadlineTimer deadline(30000);
    while (monitor.ConnectionCount() == 0 && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(monitor.ConnectionCount(), 1u);
    EXPECT_EQ(m_nNameDialogs, 0);
}

// The lock is only kept where nobody else can write: a runtime folder of
// another user, or one that others may write to, is refused with a message.
TEST_F(StartupTest, ARuntimeFolderThatIsNotPrivateIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
    QTemporaryDir foreign;
    ASSERT_EQ(::chown(foreign.path().toLocal8Bit().constData(), 65534, 65534), 0);
    qputenv("XDG_RUNTIME_DIR", foreign.path().toLocal8Bit());
    EXPECT_FALSE(Start());
    ASSERT_EQ(m_Messages.size(), 1);
    EXPECT_TRUE(
        m_Messages.front().contains(foreign.path() + ": the folder belongs to another user"));

    m_pApp.reset();
    QTemporaryDir shared;
    ::chmod(shared.path().toLocal8Bit().constData(), 0777);
    qputenv("XDG_RUNTIME_DIR", shared.path().toLocal8Bit());
    EXPECT_FALSE(Start());
    ASSERT_EQ(m_Messages.size(), 2);
    EXPECT_TRUE(m_Messages.back().contains("other users can write to the folder"));
    EXPECT_FALSE(m_pApp->MainFrame());
}

// Runs the program itself as a separate process, offscreen, with its own
// profile and runtime folder.
class ProgramTest : public ::testing::Test {
protected:
    ProgramTest() {
        m_Environment.insert("XDG_CONFIG_HOME", m_Home.filePath("config"));
        m_Environment.insert("XDG_RUNTIME_DIR", m_Home.path());
        m_Environment.insert("QT_QPA_PLATFORM", "offscreen");
        m_Environment.insert("VGL_NO_MODAL", "1");
    }

    bool StartVgl(QProcess& process, const QStringList& arguments) const {
        process.setProcessEnvironment(m_Environment);
        process.setWorkingDirectory(m_Home.path());
        process.start(VGL_BINARY, arguments);
        return process.waitForStarted();
    }

    // Reads the standard output of a running program until it holds every
    // one of `lines` (or the program ends, or a minute passes).
    static QByteArray ReadUntil(QProcess& process, const QStringList& lines) {
        QByteArray output;
        const auto complete = [&] {
            for (const QString& line : lines) {
                if (!output.contains(line.toLocal8Bit())) return false;
            }
            return true;
        };
        do {
            output += process.readAllStandardOutput();
        } while (!complete() && process.waitForReadyRead(60000));
        return output;
    }

    QTemporaryDir m_Home;
    QProcessEnvironment m_Environment = QProcessEnvironment::systemEnvironment();
};

// While one runs, a second start with nothing to hand over says so and
// ends; once the first has gone (here killed, as a crash would end it) its
// lock no longer counts and the next start succeeds.
TEST_F(ProgramTest, ASecondStartIsRefusedUntilTheFirstHasEndedEvenByACrash) {
    QProcess first;
    ASSERT_TRUE(StartVgl(first, {"--report-ready"}));
    ASSERT_TRUE(ReadUntil(first, {"vgl: ready"}).contains("vgl: ready"))
        << first.readAllStandardError().toStdString();

    QProcess second;
    ASSERT_TRUE(StartVgl(second, {"--report-ready"}));
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains(
        "Maximum instances of this application are already running!"));
    EXPECT_FALSE(second.readAllStandardOutput().contains("vgl: ready"));
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill();
    ASSERT_TRUE(first.waitForFinished(60000));

    QProcess third;
    const QString shot = m_Home.filePath("third.png");
    ASSERT_TRUE(StartVgl(third, {"--screenshot", shot, "--polls", "0"}));
    ASSERT_TRUE(third.waitForFinished(60000));
    EXPECT_EQ(third.exitCode(), 0) << third.readAllStandardError().toStdString();
    EXPECT_TRUE(QFile::exists(shot));
}

// Two starts at the same moment, each with a file: exactly one runs, and the
// other hands its file (named relative to its own folder) to it, then ends
// with status 0 and prints nothing.
TEST_F(ProgramTest, TwoStartsAtOnceMeetInOneInstanceThatOpensBothFiles) {
    for (const char* name : {"a.vgl", "b.vgl"}) {
        QFile file(m_Home.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QProcess starts[2];
    ASSERT_TRUE(StartVgl(starts[0], {"a.vgl", "--report-ready"}));
    ASSERT_TRUE(StartVgl(starts[1], {"b.vgl", "--report-ready"}));

    // The one that hands over ends on its own; the other keeps running.
    int ended = -1;
    const QDeadlineTimer deadline(120000);
    while (ended < 0 && !deadline.hasExpired()) {
        for (int i = 0; i < 2 && ended < 0; ++i) {
            if (starts[i].waitForFinished(100)) ended = i;
        }
    }
    ASSERT_GE(ended, 0);
    QProcess& handing = starts[ended];
    QProcess& running = starts[1 - ended];
    EXPECT_EQ(handing.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(handing.exitCode(), 0) << handing.readAllStandardError().toStdString();
    EXPECT_EQ(handing.readAllStandardOutput(), "");
    EXPECT_EQ(handing.readAllStandardError(), "");

    const QString handed = m_Home.filePath(ended == 0 ? "a.vgl" : "b.vgl");
    const QByteArray output = ReadUntil(running, {"vgl: ready", "vgl: opened " + handed});
    EXPECT_TRUE(output.contains("vgl: opened " + handed.toLocal8Bit()))
        << output.toStdString() << running.readAllStandardError().toStdString();
    EXPECT_EQ(running.state(), QProcess::Running);
    running.kill();
    running.waitForFinished(60000);
}

// --help, --version and mistakes are answered before any window system is
// touched: no display and no QT_QPA_PLATFORM needed.
TEST_F(ProgramTest, TheCommandLineIsAnsweredWithoutADisplay) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        m_Environment.remove(variable);
    }
    const auto run = [this](const QStringList& arguments, QByteArray& out, QByteArray& err) {
        QProcess process;
        if (!StartVgl(process, arguments) || !process.waitForFinished(60000)) return -1;
        out = process.readAllStandardOutput();
        err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    QByteArray out, err;
    EXPECT_EQ(run({"--help"}, out, err), 0) << err.toStdString();
    EXPECT_TRUE(out.contains("--connect <HOST>")) << out.toStdString();
    EXPECT_EQ(run({"--version"}, out, err), 0) << err.toStdString();
    EXPECT_EQ(out, "VGL 2.0 (Socks Vigil beta version 2.0)\n");
    EXPECT_EQ(run({"--connect", "gate", "--period", "3"}, out, err), 2);
    EXPECT_TRUE(err.contains("from 5 to 120")) << err.toStdString();
    EXPECT_EQ(run({"--bogus"}, out, err), 2);
    EXPECT_TRUE(err.contains("Try 'vgl --help'")) << err.toStdString();
    EXPECT_EQ(run({"-style", "Fusion", "--version"}, out, err), 0) << err.toStdString();
    // Qt's options reach Qt: the platform given here is the one it opens.
    const QString shot = m_Home.filePath("offscreen.png");
    EXPECT_EQ(
        run({"-platform", "offscreen", "-style", "Fusion", "--screenshot", shot, "--polls", "0"},
            out, err),
        0)
        << err.toStdString();
    EXPECT_TRUE(QFile::exists(shot));
}
