// Acting on connections from a session, against a real vgl-proxy over TLS
// with a client key it marks act, and real curl: a running download closed
// from the grid, a user blocked and lifted through the Blocks window; and a
// link that cannot act says why.

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTableWidget>
#include <future>

#include "ProxyHarness.h"
#include "SessionFixture.h"
#include "core/monitor/MonIdentity.h"
#include "core/monitor/MonKnownMonitors.h"
#include "core/monitor/MonTls.h"
#include "gui/control/BlocksWindow.h"
#include "gui/control/ConnectionActions.h"
#include "gui/control/ControlConfirmDlg.h"

namespace control_test {

// alice's password is "secret" (made by mkpasswd -m yescrypt).
constexpr char AliceLine[] =
    "alice:$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C\n";
constexpr int UserColumn = 2;

void Shoot(QWidget& widget, const char* name) {
    const QString folder = qEnvironmentVariable("VGL_SCREENSHOTS");
    if (!folder.isEmpty()) widget.grab().save(QDir(folder).filePath(QString::fromLatin1(name)));
}

class ControlTest : public SessionTest {
protected:
    ControlTest() {
        Mon_TlsSetSettings({Path("identity.pem"), Path("known_monitors")});
        std::string error;
        EXPECT_TRUE(Mon_LoadOrMakeClientIdentity(Path("identity.pem"), m_Fingerprint, error))
            << error;
        // Every confirmation is agreed to.
        SetDialogHook([this](QDialog& dialog) -> int {
            m_Dialogs << dialog.windowTitle();
            if (auto* confirm = dynamic_cast<ControlConfirmDlg*>(&dialog)) {
                confirm->ActButton()->click();
                return QDialog::Accepted;
            }
            return dynamic_cast<QMessageBox*>(&dialog) ? int(QMessageBox::Yes) : Answer(dialog);
        });
    }
    ~ControlTest() override { Mon_TlsSetSettings({}); }

    std::string Path(const char* name) const { return m_Dir.filePath(name).toStdString(); }

    // vgl-proxy with a TLS monitor that lists this client's key (`mark` "act"
    // or not), the session connected to it over TLS.
    void StartProxy(const std::string& mark) {
        const ProgramResult made =
            RunProgram({VGL_PROXY_BINARY, "--monitor-tls-generate", m_Dir.path().toStdString()});
        const size_t at = made.m_Out.find("SHA256:");
        ASSERT_NE(at, std::string::npos) << made.m_Out << made.m_Err;
        const std::string monitor = made.m_Out.substr(at, 50);
        const std::string clients = WriteFile(m_Fingerprint + " " + mark + " ops-laptop\n");
        m_Users = WriteFile(AliceLine);
        m_pProxy = std::make_unique<ProxyProcess>(std::vector<std::string>{
            "--users", m_Users, "--monitor-tls-cert", Path("monitor.crt"), "--monitor-tls-key",
            Path("monitor.key"), "--monitor-clients", clients});
        ASSERT_TRUE(m_pProxy->Started()) << m_pProxy->Log();
        std::string error;
        ASSERT_TRUE(MonKnownMonitors(Path("known_monitors"))
                        .Add(m_pProxy->Host() + ":5051", monitor, error))
            << error;
        ASSERT_TRUE(m_pDoc->ConnectTo(QString::fromStdString("tls://" + m_pProxy->Host())));
        Settle();
        ASSERT_EQ(m_pDoc->m_bDisconnected, 0) << m_pDoc->StatusText().toStdString();
    }
    ProgramResult Fetch(const std::string& path, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = {"-sS", "--proxy",
                                              "socks5h://alice:secret@" + m_pProxy->Proxy()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back("http://" + m_WebHost + ":" + std::to_string(m_Http.Port()) + path);
        return RunCurl(arguments);
    }
    // Polls until a row of the grid shows this text (in the user's column).
    int RowWith(const QString& text, int onlyColumn = -1) {
        for (int attempt = 0; attempt < 500; ++attempt) {
            m_pDoc->Refresh();
            Settle();
            for (int row = 0; row < Rows(); ++row) {
                for (int column = 0; column < m_pGrid->model()->columnCount(); ++column) {
                    if ((onlyColumn < 0 || column == onlyColumn) &&
                        Cell(row, column).contains(text)) {
                        return row;
                    }
                }
            }
            QThread::msleep(20);
        }
        return -1;
    }
    int RowOfUser(const QString& user) { return RowWith(user, UserColumn); }
    ControlTargets Choose(int row) {
        m_pGrid->clearSelection();
        m_pGrid->selectionModel()->select(m_pGrid->model()->index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        return ControlTargets::Of(m_pGrid->SelectedEntries());
    }

    QTemporaryDir m_Dir;
    std::string m_Fingerprint, m_Users;
    std::unique_ptr<ProxyProcess> m_pProxy;
    const std::string m_WebHost = RandomLoopbackHost();
    LocalHttpServer m_Http{m_WebHost, 0};
    QStringList m_Dialogs;
};

TEST_F(ControlTest, ARunningDownloadIsClosedFromTheGridAndAUserBlockedAndLifted) {
    StartProxy("act");
    ASSERT_TRUE(m_pDoc->Control().MayClose() && m_pDoc->Control().MayBlock())
        << m_pDoc->Control().WhyNotClose().toStdString();

    // A download slow enough to be running when it is closed.
    auto download = std::async(std::launch::async, [this] {
        return Fetch("/33554432", {"--limit-rate", "64K"});
    });
    const int row = RowOfUser("alice");
    ASSERT_GE(row, 0);
    QMenu menu;
    ConnectionActions::AddToMenu(&menu, m_pDoc.get(), Choose(row), m_pWindow.get());
    Shoot(*m_pWindow, "control-grid.png");
    ConnectionActions::Run(m_pDoc.get(), ConnectionActions::Action::Close, Choose(row),
                           m_pWindow.get());
    Settle();
    EXPECT_EQ(m_Dialogs.value(0), "Close Connections");
    const ProgramResult closed = download.get();
    EXPECT_NE(closed.m_Status, 0) << "curl finished a download that was closed";
    m_pDoc->OnShowFailed();
    EXPECT_GE(RowWith("closed by ops-laptop"), 0)
        << "the closed connection's result names who closed it";
    EXPECT_TRUE(m_pProxy->WaitForLog("audit: \"ops-laptop\" " + m_Fingerprint)) << m_pProxy->Log();

    // Blocking alice refuses her next connection; the block is listed, and lifting it lets her in.
    m_pDoc->OnShowActive();
    ASSERT_TRUE(Fetch("/10").m_Status == 0);
    m_pDoc->OnShowFailed();
    const int any = RowOfUser("alice");
    ASSERT_GE(any, 0);
    ConnectionActions::Run(m_pDoc.get(), ConnectionActions::Action::BlockUser, Choose(any),
                           m_pWindow.get());
    Settle();
    EXPECT_NE(Fetch("/10").m_Status, 0) << "a blocked user got through";
    BlocksWindow* blocks = BlocksWindow::ShowFor(m_pDoc.get(), m_pWindow.get());
    Settle();
    ASSERT_EQ(blocks->Table()->rowCount(), 1) << blocks->StatusLabel()->text().toStdString();
    EXPECT_EQ(blocks->Table()->item(0, 1)->text(), "alice");
    EXPECT_EQ(blocks->Table()->item(0, 2)->text(), "ops-laptop");
    Shoot(*blocks, "control-blocks.png");
    blocks->Table()->selectRow(0);
    blocks->LiftChosen();
    Settle();
    Settle();
    EXPECT_EQ(blocks->Table()->rowCount(), 0);
    EXPECT_EQ(Fetch("/10").m_Status, 0) << "a lifted block still refused alice";
    EXPECT_TRUE(m_Messages.isEmpty()) << m_Messages.join('\n').toStdString();
}

TEST_F(ControlTest, WhereTheMonitorCannotActTheItemsSayWhy) {
    StartProxy("");  // listed, but not marked act
    QString whyNot;
    EXPECT_FALSE(ConnectionActions::Allowed(m_pDoc.get(), ConnectionActions::Action::Close, nullptr,
                                            whyNot));
    EXPECT_TRUE(whyNot.contains("not marked act")) << whyNot.toStdString();
    m_pDoc->OnDisconnect();

    m_Monitor.QueueBatch(Connection(1, "www", 100, 200));
    m_pDoc->ConnectTo(QString::fromStdString(m_Monitor.Host()));  // plain TCP
    Settle();
    EXPECT_FALSE(ConnectionActions::Allowed(m_pDoc.get(), ConnectionActions::Action::BlockUser,
                                            nullptr, whyNot));
    EXPECT_TRUE(whyNot.contains("not encrypted")) << whyNot.toStdString();
}

}  // namespace control_test
