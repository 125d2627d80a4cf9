// The grid's pane over a live session: the filter line, the count and totals
// of what it keeps, the grouped grid and the export of what is on show.

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "core/table/EntryObj.h"
#include "gui/framework/CommandIds.h"
#include "gui/grid/ConnectionPane.h"
#include "gui/grid/ExportJob.h"
#include "gui/grid/GridModel.h"
#include "gui/grid/GroupModel.h"
#include "gui/session/SessionFixture.h"
#include "support/GridColumns.h"

namespace {

std::vector<MonBytes> UserConnection(uint32_t id, const std::string& user, const std::string& dest,
                                     uint32_t in) {
    return {EncodeOpen(7, id, 0x02, 1700000000, user,
                       EncodeSockAddr("10.0.0." + std::to_string(id), 40000), ""),
            EncodeUpdate(7, id, "www", MonBytes{}, "", EncodeSockAddr("192.0.2.1", 80), dest, in, 0)};
}

class PaneTest : public SessionTest {
protected:
    PaneTest() {
        m_pPane = new ConnectionPane(m_pGrid, m_pWindow.get());
        m_pWindow->layout()->addWidget(m_pPane);
        m_pPane->SetDocument(m_pDoc.get());
    }
    QString GroupCell(int row, int column) const {
        return m_pPane->Groups()->index(row, column).data().toString();
    }
    void TypeFilter(const QString& text) {
        m_pPane->FilterEdit()->clear();
        QTest::keyClicks(m_pPane->FilterEdit(), text);
    }
    void WaitForExport() {
        ASSERT_TRUE(RunEventsUntil([this] { return !m_pPane->IsExporting(); }));
    }

    ConnectionPane* m_pPane = nullptr;
};

TEST_F(PaneTest, FilterKeepsItsRowsAcrossPollsCountsThemAndSaysWhatIsWrong) {
    m_Monitor.QueueBatch(Join({Connection(1, "www", 100, 1), Connection(2, "ftp", 200, 2),
                               Connection(3, "www", 400, 4)}));
    Connect(m_Monitor.Host());
    EXPECT_EQ(m_pPane->CountLabel()->text(), "3 of 3 connections");

    TypeFilter("USER2");
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, ColUserName), "user2");
    EXPECT_EQ(m_pPane->CountLabel()->text(), "1 of 3 connections");
    EXPECT_EQ(m_pDoc->FilterText(), "USER2");  // the session's, for every pane and a stored session
    Tick(60);
    EXPECT_EQ(Rows(), 1);

    TypeFilter("-service:ftp");  // totals are those of the rows shown
    EXPECT_EQ(Rows(), 2);
    EXPECT_TRUE(m_pPane->TotalsLabel()->text().startsWith("Shown: 2    Active: 2    Failed: 0    In: 500    Out: 5"))
        << m_pPane->TotalsLabel()->text().toStdString();

    TypeFilter("src:10.0.0.0/33");
    EXPECT_EQ(m_pPane->FilterError()->text(), "\"10.0.0.0/33\" is not a network: write it like 10.0.0.0/8");
    EXPECT_EQ(Rows(), 3);  // a malformed line filters nothing out
    TypeFilter("src:10.0.0.0/31");
    EXPECT_EQ(m_pPane->FilterError()->text().toStdString(), "");
    EXPECT_EQ(Rows(), 1);  // 10.0.0.1 only

    TypeFilter(QString::fromStdString("server:" + m_Monitor.Host()));  // the session's own server
    EXPECT_EQ(Rows(), 3);
    TypeFilter("server:elsewhere");
    EXPECT_EQ(Rows(), 0);

    QTest::keyClick(m_pPane->FilterEdit(), Qt::Key_Escape);
    EXPECT_EQ(m_pPane->FilterEdit()->text(), "");
    EXPECT_EQ(Rows(), 3);
}

// Many connections are filtered, sorted and grouped a part per turn, their
// session's batches waiting while the groups are built.
TEST_F(PaneTest, InPartsTheFilterAndTheGroupsEndAsAtOnceAndPollsGoOn) {
    m_pPane->SetPartsFrom(0);
    auto settled = [this] {
        return RunEventsUntil([this] {
            return !m_pGrid->Model()->IsReordering() && !m_pPane->IsRefreshing() &&
                   !m_pDoc->IsBusy();
        });
    };
    m_Monitor.QueueBatch(Join({Connection(1, "www", 100, 1), Connection(2, "ftp", 200, 2),
                               Connection(3, "www", 400, 4)}));
    Connect(m_Monitor.Host());
    m_pGrid->SortByColumn(ColInTraffic);
    TypeFilter("-service:ftp");
    ASSERT_TRUE(settled());
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, ColUserName), "user3");
    EXPECT_TRUE(m_pPane->TotalsLabel()->text().startsWith("Shown: 2    Active: 2"));

    Route(cmd::GroupByUser);
    ASSERT_TRUE(settled());
    EXPECT_EQ(m_pPane->Groups()->rowCount(), 2);
    m_Monitor.QueueBatch(Join({Connection(4, "www", 800, 8)}));
    Tick(60);
    ASSERT_TRUE(settled());
    EXPECT_EQ(m_pPane->Groups()->rowCount(), 3);
    EXPECT_EQ(GroupCell(0, GroupModel::Name), "user4");  // by total traffic, most first
}

TEST_F(PaneTest, GroupsSumTheirConnectionsSortBothWaysAndOpenOnDoubleClick) {
    m_Monitor.QueueBatch(Join({UserConnection(1, "alice", "a.example", 100),
                               UserConnection(2, "bob", "b.example", 1000),
                               UserConnection(3, "alice", "b.example", 200)}));
    m_pWindow->resize(800, 600);
    m_pWindow->show();
    Connect(m_Monitor.Host());

    Route(cmd::GroupByUser);
    EXPECT_TRUE(Command(cmd::GroupByUser).m_bChecked);
    ASSERT_EQ(m_pPane->ShownGrid(), m_pPane->GroupView());
    QTableView* groups = m_pPane->GroupView();
    ASSERT_EQ(m_pPane->Groups()->rowCount(), 2);
    EXPECT_EQ(GroupCell(0, GroupModel::Name), "bob");  // by total traffic, most first
    EXPECT_EQ(GroupCell(1, GroupModel::Name), "alice");
    EXPECT_EQ(GroupCell(1, GroupModel::Active), "2");
    EXPECT_EQ(GroupCell(1, GroupModel::BytesIn), "300");

    QHeaderView* header = groups->horizontalHeader();
    const QPoint title(header->sectionViewportPosition(GroupModel::Name) + 4, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
    const QString first = GroupCell(0, GroupModel::Name);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);  // the other way round
    EXPECT_NE(GroupCell(0, GroupModel::Name), first);

    TypeFilter("dest:b.example");  // the filter chooses, then they are grouped
    EXPECT_EQ(GroupCell(GroupCell(0, 0) == "alice" ? 0 : 1, GroupModel::BytesIn), "200");

    const int alice = GroupCell(0, 0) == "alice" ? 0 : 1;
    emit groups->doubleClicked(m_pPane->Groups()->index(alice, 0));
    EXPECT_EQ(m_pDoc->Grouping(), GroupBy::Connection);
    EXPECT_EQ(m_pDoc->FilterText(), "user:=\"alice\"");
    EXPECT_EQ(Rows(), 2);
}

TEST_F(PaneTest, ExportWritesTheRowsOnShowWhileConnected) {
    m_Monitor.QueueBatch(Join({UserConnection(1, "alice", "a.example", 100),
                               UserConnection(2, "bob", "b.example", 1000)}));
    Connect(m_Monitor.Host());
    QTemporaryDir dir;
    QString chosen;
    SetFileNameHook([&chosen](bool, const QString&) { return chosen; });

    TypeFilter("user:bob");
    chosen = dir.filePath("rows.csv");
    m_pPane->OnExport();
    WaitForExport();
    QFile csv(chosen);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_EQ(lines.size(), 3);  // titles, bob, and the end of the last line
    EXPECT_TRUE(lines[0].startsWith("\"Source\",\"Destination\",\"User Name\""));
    EXPECT_TRUE(lines[1].contains("\"bob\",\"www\""));

    Route(cmd::GroupByDestination);
    TypeFilter("");
    chosen = dir.filePath("groups.json");
    m_pPane->OnExport();
    WaitForExport();
    QFile json(chosen);
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonArray rows = QJsonDocument::fromJson(json.readAll()).array();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].toObject()["destination"].toString(), "b.example");
    EXPECT_EQ(rows[0].toObject()["bytes_in"].toInteger(), 1000);
    EXPECT_TRUE(m_pDoc->m_Table.IsConnected());

    chosen = dir.filePath("rows.txt");
    m_pPane->OnExport();
    EXPECT_EQ(m_Messages.value(0), "Export writes a .csv or a .json file; \"rows.txt\" is neither.");
    SetFileNameHook({});
}

// An export cancelled while its rows are taken, or while they are written,
// leaves the file as it was.
TEST_F(PaneTest, CancelledExportLeavesNoPartialFile) {
    m_Monitor.QueueBatch(Join({UserConnection(1, "alice", "a.example", 100)}));
    Connect(m_Monitor.Host());
    QTemporaryDir dir;
    const QString name = dir.filePath("rows.csv");
    auto contents = [&name] {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    };
    QString error;
    ASSERT_TRUE(m_pPane->StartExport(name, error, {}));
    m_pPane->CancelExport();
    WaitForExport();
    EXPECT_EQ(contents(), "(none)");
    EXPECT_TRUE(m_pDoc->m_Table.IsConnected());

    {
        QFile before(name);
        ASSERT_TRUE(before.open(QIODevice::WriteOnly));
        before.write("before");
    }
    ExportSheet sheet = m_pPane->SheetOnShow();
    for (int copy = 0; copy < 5000; ++copy) sheet.m_Rows.push_back(sheet.m_Rows.front());
    ExportJob job(std::move(sheet), name, ExportJob::Format::Csv);
    QSignalSpy finished(&job, &ExportJob::finished);
    job.Cancel();
    job.Start();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_FALSE(finished.at(0).at(0).toBool());
    EXPECT_TRUE(finished.at(0).at(1).toString().isEmpty());  // cancelled is no failure
    EXPECT_EQ(contents(), "before");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"rows.csv"});
}

// In the C locale the system's collation compares digits as text; the grid
// and the groups must still put 9 before 10, in ASCII and beyond it.
// The first poll with rows makes each column wide enough for its longest
// text, once; a text still cut short shows whole in its tooltip. The totals
// and the rates carry the locale's group separators; copies keep plain digits.
TEST_F(PaneTest, FirstPollFitsTheColumnsAndNumbersFollowTheLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    int64_t now = 1000000;
    m_pDoc->m_Table.SetClock([&now] { return now; });
    const QString user = QStringLiteral("a.rather.long.user.name@directory.example");
    m_Monitor.QueueBatch(UserConnection(1, user.toStdString(), "a.example", 1000));
    m_Monitor.QueueBatch({EncodeUpdate(7, 1, "", MonBytes{}, "", MonBytes{}, "", 12346670, 0)});
    Connect(m_Monitor.Host());
    EXPECT_GE(m_pGrid->columnWidth(ColUserName), m_pGrid->fontMetrics().horizontalAdvance(user));
    EXPECT_EQ(m_pGrid->model()->index(0, ColUserName).data(Qt::ToolTipRole).toString(), user);

    m_pGrid->setColumnWidth(ColUserName, 40);
    now += 10000;
    Tick(60);
    EXPECT_EQ(m_pGrid->columnWidth(ColUserName), 40);  // the user's width stays
    EXPECT_EQ(Cell(0, ColInRate), "1.234.567 B/s");
    EXPECT_TRUE(m_pPane->TotalsLabel()->text().contains("In: 12.346.670    Out: 0"))
        << m_pPane->TotalsLabel()->text().toStdString();
    m_pDoc->OnDisconnect();
    m_pGrid->selectionModel()->select(m_pGrid->model()->index(0, ColInRate),
                                      QItemSelectionModel::Select);
    EXPECT_EQ(m_pGrid->SelectionText(), "In Rate\n1234567 B/s\n");
    QLocale::setDefault(before);
}

TEST_F(PaneTest, TextsSortWithTheirNumbersByValueInTheCLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale::c());
    const std::string zoe = "z\xc3\xab";  // in UTF-8, as the monitor sends it
    m_Monitor.QueueBatch(Join({UserConnection(1, zoe + "10", "", 1),
                               UserConnection(2, "Z\xc3\xab" + std::string("39"), "", 1),
                               UserConnection(3, zoe + "9", "", 1)}));
    Connect(m_Monitor.Host());
    ColumnInfoArray columns;
    BuildDefaultColumns(columns);
    columns[ColUserName].m_bAscending = 1;
    GridModel grid(columns);
    grid.SetTable(&m_pDoc->m_Table);
    grid.SetRowCount(3);
    grid.SortBy(ColUserName);
    QStringList users;
    for (int row = 0; row < grid.rowCount(); ++row)
        users << grid.index(row, ColUserName).data().toString();
    EXPECT_EQ(users, (QStringList{"z\u00eb9", "z\u00eb10", "Z\u00eb39"}));

    std::vector<EntryObj> clients;
    for (const char* name : {"client40", "client7", "client39", "client6"}) {
        clients.emplace_back();
        clients.back().m_UserName = name;
    }
    std::vector<const EntryObj*> entries;
    for (const EntryObj& entry : clients) entries.push_back(&entry);
    GroupModel groups;
    groups.Rebuild(GroupBy::User, entries, 0);
    groups.sort(GroupModel::Name, Qt::AscendingOrder);
    QStringList names;
    for (int row = 0; row < groups.rowCount(); ++row)
        names << groups.index(row, GroupModel::Name).data().toString();
    EXPECT_EQ(names, (QStringList{"client6", "client7", "client39", "client40"}));
    QLocale::setDefault(before);
}

TEST(GroupModelTest, AGroupNameShowsAsTheGridShowsItFromLatin1AndFromUtf8) {
    std::vector<EntryObj> users(2);
    users[0].m_UserName = "Jos\xE9";
    users[1].m_UserName = "Jos\xC3\xA9";
    GroupModel groups;
    groups.Rebuild(GroupBy::User, {&users[0], &users[1]}, 0);
    ASSERT_EQ(groups.rowCount(), 2);
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(groups.index(row, GroupModel::Name).data().toString(), "Jos\u00e9");
}

}  // namespace
