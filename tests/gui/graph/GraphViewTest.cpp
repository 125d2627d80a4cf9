// The traffic graph of a session: its set-up, the service catalogue, the
// subsets for the lists the options page may give, and the points a
// connected session feeds it.

#include <QComboBox>
#include <QDateTimeEdit>
#include <set>

#include "gui/framework/CommandIds.h"
#include "gui/history/HistoryWindow.h"
#include "gui/session/SessionFixture.h"
#include "support/GridColumns.h"

namespace {

TEST_F(SessionTest, TheGraphStartsWithItsTitlesLabelsAndTheDefaultServices) {
    GraphCtrl* graph = m_pGraph->GetGraph();
    EXPECT_EQ(graph->Title(), "Real Time Historical Log");
    EXPECT_EQ(graph->YAxisLabel(), "Network traffic (delta bytes)");
    EXPECT_EQ(graph->XAxisLabel(), "Time (seconds elapsed)");
    EXPECT_EQ(graph->PointCount(), 14);
    EXPECT_EQ(graph->PointLabel(0), "0");
    EXPECT_EQ(graph->PointLabel(13), "195");
    EXPECT_EQ(Labels(), (QStringList{"archie(1525)", "www(80)", "telnet(23)", "ftp-data(20)",
                                     "ftp(21)", "Others"}));
    EXPECT_EQ(m_pGraph->GetServiceList(),
              (std::vector<std::string>{"ftp", "ftp-data", "telnet", "www", "archie", "Others"}));
    // Colours arrive as RGB values with red in the low byte.
    EXPECT_EQ(graph->SubsetColor(2), QColor(255, 0, 0));    // telnet
    EXPECT_EQ(graph->SubsetColor(1), QColor(0, 0, 255));    // www
    EXPECT_EQ(graph->SubsetColor(0), QColor(255, 255, 0));  // archie
    EXPECT_EQ(graph->SubsetColor(5), QColor(0, 0, 0));      // Others
    EXPECT_EQ(graph->SubsetLineStyle(1), LineSolid4);
    EXPECT_EQ(graph->SubsetLineStyle(5), LineDot);

    const auto& catalogue = GraphView::GetMasterMap();
    ASSERT_EQ(catalogue.count("whois"), 1u);
    EXPECT_EQ(catalogue.at("whois").m_Port, 43);
    EXPECT_EQ(catalogue.at("whois").m_Color, 0x808080u);
    EXPECT_EQ(catalogue.at("whois").m_LineStyle, LineSolid8);
    EXPECT_EQ(catalogue.at("finger").m_Color, 0xFFFF00u);
    // Today's services are there too, each with a colour of its own.
    ASSERT_EQ(catalogue.count("https") + catalogue.count("socks"), 2u);
    EXPECT_EQ(catalogue.at("https").m_Port, 443);
    EXPECT_EQ(catalogue.at("socks").m_Port, 1080);
    std::set<uint32_t> colours;
    for (const auto& [name, record] : catalogue) colours.insert(record.m_Color);
    EXPECT_EQ(colours.size(), catalogue.size());
}

TEST_F(SessionTest, OthersIsAlwaysTheLastSubsetExactlyOnce) {
    m_pGraph->SetServiceList({"Others", "www", "gopher", "telnet"});
    EXPECT_EQ(Labels(), (QStringList{"telnet(23)", "www(80)", "Others"}));
    EXPECT_EQ(m_pGraph->GetServiceList(), (std::vector<std::string>{"www", "telnet", "Others"}));
    EXPECT_TRUE(Traced("Could not find service name in the master map"));

    m_pGraph->SetServiceList({});
    EXPECT_EQ(Labels(), QStringList{"Others"});

    // With only "Others" on show, all traffic lands there.
    m_Monitor.QueueBatch({});
    m_Monitor.QueueBatch(Join({Connection(1, "www", 10, 5), Connection(2, "ftp", 1, 1)}));
    Connect(m_Monitor.Host());
    Tick(60);
    EXPECT_EQ(Newest("Others"), 17.0f);
}

TEST_F(SessionTest, ACatalogueMergeReloadsEveryGraphView) {
    GraphView second;
    m_pDoc->AddView(&second);
    second.OnInitialUpdate();
    ASSERT_EQ(GraphView::ServiceClients().size(), 2u);

    GraphView::ServiceMap changed;
    changed["www"] = ServiceRecord{"www", 0, 8080, 0x00FF00, LineDash};
    changed["gopher"] = ServiceRecord{"gopher", 1, 70, 0x0000FF, LineSolid};
    GraphView::MergeIntoMasterMap(changed);
    for (GraphView* view : {m_pGraph, &second}) {
        EXPECT_EQ(view->GetGraph()->SubsetLabel(1), "www(8080)");
        EXPECT_EQ(view->GetGraph()->SubsetColor(1), QColor(0, 255, 0));
    }
    m_pGraph->SetServiceList({"gopher"});
    EXPECT_EQ(Labels(), (QStringList{"gopher(70)", "Others"}));

    // Opening a graph restores the predefined services; user ones stay.
    GraphView::LoadPredefinedServices();
    EXPECT_EQ(GraphView::GetMasterMap().at("www").m_Port, 80);
    EXPECT_EQ(GraphView::GetMasterMap().count("gopher"), 1u);
}

// Window > New Window: the new window's graph shows what the first one
// shows, and from then on both get the session's points, labels and services.
TEST_F(SessionTest, TwoGraphsOfOneSessionShowTheSamePointsLabelsAndRange) {
    m_pGraph->SetServiceList({"www", "ftp"});
    m_Monitor.QueueBatch({});
    m_Monitor.QueueBatch(Connection(1, "ftp", 500, 500));
    m_Monitor.QueueBatch(Connection(2, "www", 30, 0));
    Connect(m_Monitor.Host());
    Tick(60);
    GraphView second;
    m_pDoc->AddView(&second);
    second.OnInitialUpdate();
    auto expectSame = [this, &second] {
        const GraphCtrl* first = m_pGraph->GetGraph();
        const GraphCtrl* other = second.GetGraph();
        ASSERT_EQ(other->SubsetCount(), first->SubsetCount());
        EXPECT_EQ(other->YMin(), first->YMin());
        EXPECT_EQ(other->YMax(), first->YMax());
        for (int p = 0; p < first->PointCount(); ++p) {
            EXPECT_EQ(other->PointLabel(p), first->PointLabel(p)) << p;
            for (int s = 0; s < first->SubsetCount(); ++s) {
                EXPECT_EQ(other->SubsetLabel(s), first->SubsetLabel(s));
                EXPECT_EQ(other->Value(s, p), first->Value(s, p)) << s << " " << p;
            }
        }
    };
    expectSame();
    EXPECT_EQ(second.GetGraph()->PointLabel(0), "780");
    EXPECT_EQ(Newest("ftp(21)"), 1000.0f);
    EXPECT_GT(second.GetGraph()->YMax(), 1000.0);

    Tick(60);  // the session's services were kept: www still counts
    EXPECT_EQ(Newest("www(80)"), 30.0f);
    expectSame();
    m_pDoc->SetUpdatePeriod(30);
    EXPECT_EQ(second.GetGraph()->PointLabel(0), "390");
    m_pGraph->SetServiceList({"telnet"});
    expectSame();
    EXPECT_EQ(second.GetServiceList(), (std::vector<std::string>{"telnet", "Others"}));
}

TEST_F(SessionTest, AServiceWithAPortCollectsTheTrafficTheMonitorNamesByThatPort) {
    GraphView::MergeIntoMasterMap({{"devserver", ServiceRecord{"devserver", 1, 8000, 0xFF, 0}}});
    m_pGraph->SetServiceList({"devserver", "www"});
    m_Monitor.QueueBatch(Join({Connection(1, "8000", 40, 2), Connection(2, "devserver", 5, 5),
                               Connection(3, "80", 7, 0), Connection(4, "8080", 1, 1)}));
    Connect(m_Monitor.Host());
    EXPECT_EQ(m_pDoc->m_Table.ServiceTraffic("devserver"), 52u);
    EXPECT_EQ(m_pDoc->m_Table.ServiceTraffic("www"), 7u);  // www(80) takes "80" as well
    EXPECT_EQ(m_pDoc->m_Table.ServiceTraffic("Others"), 2u);
}

TEST_F(SessionTest, EachTickAddsOnePointAndANewConnectionClearsTheHistory) {
    m_Monitor.QueueBatch({});
    m_Monitor.QueueBatch(Connection(1, "ftp", 50, 50));
    m_Monitor.QueueBatch({});
    Connect(m_Monitor.Host());
    GraphCtrl* graph = m_pGraph->GetGraph();
    Tick(60);
    EXPECT_EQ(Newest("ftp(21)"), 100.0f);
    EXPECT_EQ(graph->Value(4, 12), 0.0f);  // the cleared history before it
    Tick(60);
    EXPECT_EQ(Newest("ftp(21)"), 0.0f);
    EXPECT_EQ(graph->Value(4, 12), 100.0f);

    m_pDoc->OnDisconnect();
    m_pDoc->UpdateAllViews(nullptr);  // no point while disconnected
    EXPECT_EQ(graph->Value(4, 12), 100.0f);
}

// A steady transfer polled by the timer and, in between, by the user's
// actions: the graph still gets one point per period, holding all of it.
TEST_F(SessionTest, PollsBetweenTicksAddToTheTicksPointAndTheFirstPollIsABaseline) {
    auto moved = [](uint32_t in) {
        return std::vector<MonBytes>{EncodeUpdate(7, 1, "", {}, "", {}, "", in, 0)};
    };
    m_Monitor.QueueBatch(Connection(1, "www", 5000, 0));  // made before VGL connected
    m_Monitor.QueueBatch(moved(5100));                    // an activation change
    m_Monitor.QueueBatch(moved(5300));                    // Show Active
    m_Monitor.QueueBatch(moved(5700));                    // the tick
    m_Monitor.QueueBatch(moved(5800));                    // the next tick
    Connect(m_Monitor.Host());
    GraphCtrl* graph = m_pGraph->GetGraph();
    auto points = [graph] {
        std::vector<float> values;
        for (int p = 0; p < graph->PointCount(); ++p) values.push_back(graph->Value(1, p));
        return values;
    };
    const std::vector<float> none(14, 0.0f);
    EXPECT_EQ(points(), none);

    m_pDoc->Refresh();  // what the main window does when it is activated
    Settle();
    Route(cmd::ShowActive);
    EXPECT_EQ(Cell(0, ColInTraffic), "5300");  // the grid is up to date at once
    EXPECT_EQ(points(), none);

    Tick(60);
    EXPECT_EQ(Newest("www(80)"), 700.0f);
    EXPECT_EQ(graph->Value(1, 12), 0.0f);
    Tick(60);
    EXPECT_EQ(Newest("www(80)"), 100.0f);
    EXPECT_EQ(graph->Value(1, 12), 700.0f);
    EXPECT_EQ(m_Monitor.RequestCount(), 5u);
}

// A point of the session's graph is one poll: a click on a line shows its
// connections in History, from the poll before it to it, of its server and
// service; "Others" is every service without a line of its own.
TEST_F(SessionTest, AClickOnAPointShowsThatPollsConnectionsInHistory) {
    m_Monitor.QueueBatch({});
    m_Monitor.QueueBatch({});
    m_Monitor.QueueBatch(Connection(1, "www", 500, 500));
    Connect(m_Monitor.Host());
    Tick(60);
    Tick(60);
    m_pWindow->resize(800, 700);
    m_pWindow->show();
    GraphCtrl* graph = m_pGraph->GetGraph();
    ASSERT_TRUE(RunEventsUntil([graph] { return graph->height() > 300; }));
    ASSERT_NE(m_pGraph->PointEnd(12), 0);
    EXPECT_EQ(m_pGraph->PointEnd(11), 0);  // the cleared points have no time

    QTest::mouseClick(graph, Qt::LeftButton, {}, graph->PointPosition(1, 13).toPoint());
    HistoryWindow* history = HistoryWindow::ShowWindow();
    EXPECT_EQ(history->FromEdit()->dateTime().toSecsSinceEpoch(), m_pGraph->PointEnd(12));
    EXPECT_EQ(history->ToEdit()->dateTime().toSecsSinceEpoch(), m_pGraph->PointEnd(13) + 1);
    EXPECT_EQ(history->ServerBox()->currentText(), m_pDoc->ServerName());
    EXPECT_EQ(history->FilterEdit()->text(), "service:=\"www\"");

    QTest::mouseClick(graph, Qt::LeftButton, {}, graph->PointPosition(5, 13).toPoint());
    EXPECT_EQ(history->FilterEdit()->text().split(' ').size(), 5);
    EXPECT_TRUE(history->FilterEdit()->text().startsWith("-service:=\""));
    ASSERT_TRUE(RunEventsUntil([history] { return history->IsIdle(); }));
    delete history;
}

}  // namespace
