// The grid of all servers over three live sessions: their rows with their
// servers, following each session's polls and the sessions that close, the
// server: filter, and the grouping by server with the totals of each.

#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTableView>
#include <QTest>

#include "core/view/ConnectionFilter.h"
#include "gui/fleet/AllServersWindow.h"
#include "gui/grid/ConnectionPane.h"
#include "gui/grid/GridModel.h"
#include "gui/grid/GroupModel.h"
#include "gui/session/SessionFixture.h"
#include "support/GridColumns.h"

namespace {

class AllServersTest : public SessionTest {
protected:
    AllServersTest() {
        // The same connection ids in every session: a table's ids are its own.
        m_Monitor.QueueBatch(Join({Connection(1, "www", 100, 10), Connection(2, "ftp", 200, 20)}));
        m_Second.QueueBatch(Connection(1, "www", 1000, 100));
        m_Third.QueueBatch(Join({Connection(1, "smtp", 5, 1), Connection(3, "www", 7, 2)}));
        Connect(m_Monitor.Host());
        m_pSecond = std::make_unique<CVGLDoc>();
        m_pThird = std::make_unique<CVGLDoc>();
        EXPECT_TRUE(m_pSecond->ConnectTo(QString::fromStdString(m_Second.Host())));
        EXPECT_TRUE(m_pThird->ConnectTo(QString::fromStdString(m_Third.Host())));
        SettleAll();
        m_pAll = std::make_unique<AllServersWindow>();
        m_pAll->resize(1100, 420);
        m_pAll->show();
    }

    void SettleAll() {
        Settle();
        for (CVGLDoc* doc : {m_pSecond.get(), m_pThird.get()}) EXPECT_TRUE(SettleSession(doc));
    }
    // A period's ticks: every session polls once.
    void PollAll() {
        for (int i = 0; i < 60; ++i) GWTimer::TimerProc(m_App.m_Timer.TimerId());
        SettleAll();
    }
    GridModel* AllModel() const { return m_pAll->Grid()->Model(); }
    int AllRows() const { return AllModel()->rowCount(); }
    QString AllCell(int row, int column) const {
        return AllModel()->index(row, column).data().toString();
    }
    // Each row as "server user", in the grid's order.
    QStringList ServerAndUser() const {
        QStringList rows;
        for (int row = 0; row < AllRows(); ++row)
            rows << AllCell(row, GridModel::ServerColumn) + " " + AllCell(row, ColUserName);
        return rows;
    }
    void TypeAllFilter(const std::string& text) {
        m_pAll->Pane()->FilterEdit()->clear();
        QTest::keyClicks(m_pAll->Pane()->FilterEdit(), QString::fromStdString(text));
    }
    QString Host(const FakeMonitor& monitor) const {
        return QString::fromStdString(monitor.Host());
    }

    FakeMonitor m_Second;
    FakeMonitor m_Third;
    std::unique_ptr<CVGLDoc> m_pSecond;
    std::unique_ptr<CVGLDoc> m_pThird;
    std::unique_ptr<AllServersWindow> m_pAll;  // goes before the sessions
};

TEST_F(AllServersTest, ShowsEverySessionsRowsWithItsServerThroughPollsAndClosedSessions) {
    const QString a = Host(m_Monitor), b = Host(m_Second), c = Host(m_Third);
    EXPECT_EQ(m_pAll->Grid()->horizontalHeader()->logicalIndex(0), GridModel::ServerColumn);
    EXPECT_EQ(AllModel()->headerData(GridModel::ServerColumn, Qt::Horizontal), "Server");
    EXPECT_EQ(ServerAndUser(),
              QStringList({a + " user1", a + " user2", b + " user1", c + " user1", c + " user3"}));
    EXPECT_EQ(m_pAll->Pane()->CountLabel()->text(), "5 of 5 connections");

    // Sorted by server name, the selection on the third server's user3 (id 3).
    m_pAll->Grid()->SortByColumn(GridModel::ServerColumn);
    QStringList sorted = ServerAndUser();
    ASSERT_EQ(sorted.size(), 5);
    // Numbers within the names go by value, as in every text column.
    for (int row = 1; row < 5; ++row) {
        EXPECT_LE(AllModel()->CompareText(sorted[row - 1].section(' ', 0, 0).toStdString(),
                                          sorted[row].section(' ', 0, 0).toStdString()),
                  0);
    }
    const int picked = static_cast<int>(sorted.indexOf(c + " user3"));
    m_pAll->Grid()->setCurrentIndex(AllModel()->index(picked, ColUserName));

    // The second server's poll brings a connection with the id of the one
    // selected; the selection stays on the third server's connection.
    m_Second.QueueBatch(Connection(3, "ftp", 50, 5));
    PollAll();
    EXPECT_EQ(AllRows(), 6);
    const QModelIndex current = m_pAll->Grid()->currentIndex();
    EXPECT_EQ(
        AllCell(current.row(), GridModel::ServerColumn) + " " + AllCell(current.row(), ColUserName),
        c + " user3");

    m_pSecond.reset();  // its tab was closed
    EXPECT_EQ(AllRows(), 4);
    EXPECT_FALSE(ServerAndUser().join(",").contains(b));
    EXPECT_EQ(m_pAll->Pane()->CountLabel()->text(), "4 of 4 connections");
}

TEST_F(AllServersTest, ServerTermsMatchEachSessionsRowsWithItsOwnServer) {
    const QString b = Host(m_Second), c = Host(m_Third);
    TypeAllFilter(ConnectionFilter::ExactTerm("server", m_Third.Host()));
    EXPECT_EQ(ServerAndUser(), QStringList({c + " user1", c + " user3"}));
    TypeAllFilter("-" + ConnectionFilter::ExactTerm("server", m_Monitor.Host()) + " user1");
    EXPECT_EQ(ServerAndUser(), QStringList({b + " user1", c + " user1"}));
    // A poll of one session leaves the others' rows chosen as they were.
    m_Monitor.QueueBatch(Connection(4, "www", 1, 1));
    PollAll();
    EXPECT_EQ(ServerAndUser(), QStringList({b + " user1", c + " user1"}));
    EXPECT_EQ(m_pAll->Pane()->CountLabel()->text(), "2 of 6 connections");
    // What is exported says whose each row is.
    const ExportSheet sheet = m_pAll->Pane()->SheetOnShow();
    ASSERT_EQ(sheet.m_Rows.size(), 2u);
    EXPECT_EQ(sheet.m_Keys.front(), "server");
    EXPECT_EQ(sheet.m_Rows[1].front().m_Text, m_Third.Host());
}

TEST_F(AllServersTest, GroupsByServerWithTheTotalsOfEachServer) {
    const QString a = Host(m_Monitor), b = Host(m_Second), c = Host(m_Third);
    QComboBox* groupBy = m_pAll->GroupByBox();
    groupBy->setFocus();
    QTest::keyClick(groupBy, Qt::Key_End);  // the last choice: Server
    ASSERT_EQ(groupBy->currentText(), "Server");
    EXPECT_EQ(m_pAll->Pane()->ShownGrid(), m_pAll->Pane()->GroupView());
    GroupModel* groups = m_pAll->Pane()->Groups();
    ASSERT_EQ(groups->rowCount(), 3);
    EXPECT_EQ(groups->headerData(GroupModel::Name, Qt::Horizontal), "Server");
    QStringList rows;
    for (int row = 0; row < 3; ++row) {
        rows << groups->index(row, GroupModel::Name).data().toString() + " " +
                    groups->index(row, GroupModel::Active).data().toString();
    }
    rows.sort();
    QStringList wanted{a + " 2", b + " 1", c + " 2"};
    wanted.sort();
    EXPECT_EQ(rows, wanted);

    const QStringList lines = m_pAll->Pane()->TotalsLabel()->text().split('\n');
    ASSERT_EQ(lines.size(), 4) << m_pAll->Pane()->TotalsLabel()->text().toStdString();
    EXPECT_TRUE(lines[0].startsWith("Shown: 5    Active: 5    Failed: 0    In: 1,312    Out: 133"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines.contains(b + " \u2014 Shown: 1    Active: 1    Failed: 0    In: 1,000    "
                                   "Out: 100    In rate: -    Out rate: -"))
        << lines.join('\n').toStdString();
    if (qEnvironmentVariableIsSet("VGL_SHOTS")) {
        QCoreApplication::sendPostedEvents();  // the strip's layout grows to its lines
        m_pAll->grab().save(qEnvironmentVariable("VGL_SHOTS") + "/combined-grouped.png");
    }

    // Grouped by user the strip still totals each server; a double click on
    // a server's group shows its connections.
    m_pAll->Pane()->SetGrouping(GroupBy::User);
    EXPECT_EQ(groupBy->currentText(), "User");
    EXPECT_EQ(m_pAll->Pane()->TotalsLabel()->text().split('\n').size(), 4);
    m_pAll->Pane()->SetGrouping(GroupBy::Server);
    const QModelIndex first = groups->index(0, GroupModel::Name);
    const QString server = first.data().toString();
    emit m_pAll->Pane()->GroupView()->doubleClicked(first);
    EXPECT_EQ(groupBy->currentText(), "Connection");
    EXPECT_EQ(m_pAll->Pane()->ShownGrid(), m_pAll->Grid());
    for (int row = 0; row < AllRows(); ++row)
        EXPECT_EQ(AllCell(row, GridModel::ServerColumn), server);
}

}  // namespace
