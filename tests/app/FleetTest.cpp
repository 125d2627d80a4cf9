// The fleet at a glance: the Servers view over real sessions of fake
// monitors, the alerts they fire told over a real (private) session bus, the
// alerts' list opening the connections behind an alert, and the tray's state.
#include <QDBusConnection>
#include <QDir>
#include <QLabel>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>

#include "app/FramesFixture.h"
#include "gui/fleet/AlertsDialog.h"
#include "gui/fleet/AlertsWindow.h"
#include "gui/fleet/DesktopNotifier.h"
#include "gui/fleet/FleetAlerts.h"
#include "gui/fleet/FleetTray.h"
#include "gui/fleet/ServersModel.h"
#include "gui/fleet/ServersWindow.h"
#include "gui/framework/ProfileSettings.h"
#include "support/FakeMonitor.h"
#include "support/NotificationRecorder.h"
#include "support/RecordEncoder.h"

namespace {

constexpr uint32_t Start = 1765000000;

// Two connections of alice's and a failed login from 10.0.0.9.
std::vector<MonBytes> BusyBatch(uint32_t id) {
    return {EncodeOpen(1, id, 2, Start, "alice", EncodeSockAddr("10.0.0.7", 40000), ""),
            EncodeUpdate(1, id, "www", {}, "", EncodeSockAddr("93.184.216.34", 80), "", 5000, 300),
            EncodeOpen(1, id + 1, 2, Start, "mallory", EncodeSockAddr("10.0.0.9", 40001), ""),
            EncodeResult(1, id + 1, 0x101, "authentication failed"), EncodeClose(1, id + 1)};
}

// Where the screenshots go when the run asks for them (VGL_SCREENSHOTS=folder).
void Shoot(QWidget& widget, const char* name) {
    const QString folder = qEnvironmentVariable("VGL_SCREENSHOTS");
    if (!folder.isEmpty()) widget.grab().save(QDir(folder).filePath(QString::fromLatin1(name)));
}

class FleetTest : public FramesTest {
protected:
    // Sessions of these monitors, each polled once: the first poll of a
    // connection only sets the baseline.
    void StartWith(const std::vector<FakeMonitor*>& monitors) {
        VGLCommandLine commandLine;
        for (FakeMonitor* monitor : monitors) {
            commandLine.m_ConnectHosts << QString::fromStdString(monitor->Host());
        }
        ASSERT_TRUE(Start(commandLine));
        m_pApp->ConnectCommandLineSessions();
        ASSERT_TRUE(SettleAll());
        for (CVGLDoc* session : Documents()) Poll(session);
    }
    static void Poll(CVGLDoc* session) {
        session->Refresh();
        ASSERT_TRUE(SettleSession(session));
    }
    static int RowOf(const ServersModel& model, const std::string& server) {
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.Session(row)->ServerName().toStdString() == server) return row;
        }
        return -1;
    }
    static QString Cell(const ServersModel& model, int row, int column) {
        return model.data(model.index(row, column)).toString();
    }
};

TEST_F(FleetTest, ServersViewShowsEverySessionAndFollowsTheFilter) {
    FakeMonitor first, second;
    auto third = std::make_unique<FakeMonitor>();
    const std::string lostHost = third->Host();
    StartWith({&first, &second, third.get()});
    first.QueueBatch(BusyBatch(1));
    Poll(Documents()[0]);
    third.reset();  // the third server goes away: its next poll loses it
    Poll(Documents()[2]);

    ServersWindow* window = ServersWindow::ShowWindow(&Main());
    const ServersModel& model = *window->Model();
    ASSERT_EQ(model.rowCount(), 3);
    const int busy = RowOf(model, first.Host());
    EXPECT_TRUE(Cell(model, busy, ServersModel::ColState).startsWith("Connected since"));
    EXPECT_EQ(Cell(model, busy, ServersModel::ColLink), "plain");
    EXPECT_EQ(Cell(model, busy, ServersModel::ColActive), "1");
    EXPECT_EQ(Cell(model, busy, ServersModel::ColFailedLogins), "1");
    const int lost = RowOf(model, lostHost);
    EXPECT_TRUE(Cell(model, lost, ServersModel::ColState).startsWith("Reconnecting"))
        << Cell(model, lost, ServersModel::ColState).toStdString();
    EXPECT_EQ(Cell(model, lost, ServersModel::ColActive), "");
    Shoot(*window, "servers-view.png");

    // The grid's filter line: server: terms choose servers, others their connections.
    window->FilterEdit()->setText(QString::fromStdString("server:" + second.Host()));
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.Session(0)->ServerName().toStdString(), second.Host());
    window->FilterEdit()->setText("user:alice");
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.Session(0)->ServerName().toStdString(), first.Host());
    window->FilterEdit()->setText("dport:99999");
    EXPECT_FALSE(window->FilterError()->isHidden());
    EXPECT_EQ(model.rowCount(), 3);

    // A double-click brings the session's tab to the front, whatever the order.
    window->FilterEdit()->clear();
    window->Grid()->sortByColumn(ServersModel::ColServer, Qt::DescendingOrder);
    for (int row = 0; row < 3; ++row) {
        window->OpenRow(row);
        const GWView* view = ActiveFrame()->GetActiveView();
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->GetDocument(), window->SessionOfRow(row)) << row;
    }
    window->close();
}

TEST_F(FleetTest, ALostServerIsToldOnceOnTheDesktopAndAlertsOpenTheirConnections) {
    NotificationRecorder bus;
    ASSERT_FALSE(bus.Address().isEmpty()) << "no private session bus";
    FakeMonitor first;
    auto second = std::make_unique<FakeMonitor>();
    const std::string lostHost = second->Host();
    StartWith({&first, second.get()});
    DesktopNotifier notifier(bus.ClientConnection());
    FleetAlerts& alerts = FleetAlerts::Get();
    alerts.SetNotifier(&notifier);
    std::vector<AlertRule> rules = DefaultAlertRules();  // lost, and failed logins
    rules[1].m_Threshold = 1;
    alerts.SetRules(rules, 15);
    const size_t before = alerts.Firings().size();

    first.QueueBatch(BusyBatch(1));
    Poll(Documents()[0]);  // one failed login: under the threshold
    first.QueueBatch(BusyBatch(3));
    Poll(Documents()[0]);  // two in the minute
    second.reset();
    Poll(Documents()[1]);
    ASSERT_TRUE(RunEventsUntil([&] { return bus.Notices().size() >= 2; }));
    ASSERT_EQ(alerts.Firings().size(), before + 2);
    int naming = 0;
    for (const RecordedNotice& notice : bus.Notices()) {
        EXPECT_EQ(notice.m_App, "VGL");
        naming += notice.m_Summary.contains(QString::fromStdString(lostHost)) ? 1 : 0;
    }
    EXPECT_EQ(naming, 1);
    EXPECT_EQ(FleetTray::StateNow(), FleetTray::Trouble);  // unread

    // The list, newest first; the failed logins' line opens them in the grid.
    AlertsWindow* window = AlertsWindow::ShowWindow(&Main());
    EXPECT_EQ(alerts.Unread(), 0);
    EXPECT_EQ(FleetTray::StateNow(), FleetTray::Reconnecting);
    ASSERT_GE(window->List()->rowCount(), 2);
    EXPECT_EQ(window->List()->item(0, 2)->text().toStdString(), lostHost);
    EXPECT_EQ(window->List()->item(1, 3)->text(), "2 failed logins in a minute");
    ASSERT_TRUE(window->OpenLine(1));
    EXPECT_EQ(Documents()[0]->FilterText(), "result:257");
    EXPECT_FALSE(
        Documents()[0]->GetTable().IsShowActive());  // failed logins are failed connections
    Shoot(*window, "alerts-list.png");
    window->close();
    alerts.SetNotifier(nullptr);
    alerts.SetRules(DefaultAlertRules(), 15);
    EXPECT_EQ(bus.Notices().size(), 2u);
}

// The rules the user writes are kept with the options and come back at the
// next start; one that cannot be kept is named and nothing is saved.
TEST_F(FleetTest, AlertRulesAreCheckedKeptAndLoadedAgain) {
    ASSERT_TRUE(Start());
    AlertsDialog dialog(&Main());
    dialog.AddRule();
    dialog.NameEdit()->setText("Inside");
    QTest::keyClicks(dialog.NameEdit(), " net");
    dialog.FilterEdit()->setText("dest:10.0.0.0/33");
    emit dialog.FilterEdit()->textEdited(dialog.FilterEdit()->text());
    dialog.accept();
    ASSERT_EQ(m_Messages.size(), 1);
    EXPECT_TRUE(m_Messages[0].contains("cannot be kept")) << m_Messages[0].toStdString();
    EXPECT_TRUE(ProfileSettings::AlertRules().isEmpty());

    dialog.FilterEdit()->setText("dest:10.0.0.0/8");
    emit dialog.FilterEdit()->textEdited(dialog.FilterEdit()->text());
    dialog.QuietBox()->setValue(30);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    FleetAlerts::Get().SetRules(DefaultAlertRules(), 15);
    FleetAlerts::Get().LoadSettings();
    const std::vector<AlertRule>& rules = FleetAlerts::Get().Rules();
    ASSERT_EQ(rules.size(), 3u);
    EXPECT_EQ(rules[2].m_Name, "Inside net");
    EXPECT_EQ(rules[2].m_Kind, AlertKind::FilterCount);
    EXPECT_EQ(rules[2].m_Filter, "dest:10.0.0.0/8");
    EXPECT_EQ(FleetAlerts::Get().QuietMinutes(), 30);
    FleetAlerts::Get().SetRules(DefaultAlertRules(), 15);
}

}  // namespace
