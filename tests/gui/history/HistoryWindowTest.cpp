// The History window over a file written by the writer: the range, the
// filter, the totals, the graph and the exports, all answered by the query
// thread.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>

#include "core/history/HistoryWriter.h"
#include "gui/framework/Dialogs.h"
#include "gui/graph/GraphCtrl.h"
#include "gui/history/HistoryGridModel.h"
#include "gui/history/HistoryOptionsDlg.h"
#include "gui/history/HistoryService.h"
#include "gui/history/HistoryWindow.h"
#include "support/SessionSettle.h"

namespace {

HistoryConnection Finished(const std::string& user, const std::string& service, int64_t end) {
    HistoryConnection c;
    c.m_Server = "proxy.lan";
    c.m_Key = "1:" + std::to_string(end);
    c.m_User = user;
    c.m_DestName = user + ".example";
    c.m_Service = service;
    c.m_StartTime = end - 5;
    c.m_EndTime = end;
    c.m_BytesIn = 1000;
    c.m_BytesOut = 10;
    return c;
}

class HistoryWindowTest : public ::testing::Test {
protected:
    HistoryWindowTest() {
        SetMessageBoxHook([this](const QString& text) { m_Messages << text; });
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        HistoryWriterOptions options;
        HistoryWriter writer(Path().toStdString(), options, nullptr);
        HistoryBatch batch;
        // 450 in the last hour (more than two pages), one two days ago.
        for (int i = 0; i < 450; ++i) {
            batch.m_Connections.push_back(
                Finished(i % 3 ? "ann" : "j\xfcrgen", i % 2 ? "www" : "ftp", now - 3000 + i));
        }
        batch.m_Connections.push_back(Finished("old", "www", now - 2 * 86400));
        HistoryPeriod period;
        period.m_Server = "proxy.lan";
        period.m_Time = now - 600;
        period.m_Seconds = 60;
        period.m_Services["www"] = {4000, 40};
        period.m_Users["ann"] = {4000, 40};
        batch.m_Periods.push_back(period);
        writer.Submit(std::move(batch));
    }
    ~HistoryWindowTest() override { SetMessageBoxHook({}); }

    QString Path() const { return m_Dir.filePath("history.sqlite3"); }
    void Settle(HistoryWindow& window) {
        ASSERT_TRUE(RunEventsUntil([&] { return window.IsIdle(); }));
    }

    QTemporaryDir m_Dir;
    QStringList m_Messages;
};

}  // namespace

TEST_F(HistoryWindowTest, RangeFilterTotalsGraphAndPagedGrid) {
    HistoryWindow window(Path());
    Settle(window);
    // It opens on all that the file holds, the record of two days ago included.
    EXPECT_EQ(window.RangeBox()->currentIndex(), HistoryWindow::Custom);
    EXPECT_EQ(window.GridModel()->rowCount(), 451);
    EXPECT_LE(window.FromEdit()->dateTime().toSecsSinceEpoch(), std::time(nullptr) - 2 * 86400);
    window.RangeBox()->setCurrentIndex(HistoryWindow::Last24Hours);
    Settle(window);
    EXPECT_EQ(window.GridModel()->rowCount(), 450);  // newest first
    EXPECT_EQ(window.ServerBox()->count(), 2);
    // Rows are read a page at a time: the last row comes when asked for.
    EXPECT_EQ(window.GridModel()->index(449, 2).data().toString(), QString());
    Settle(window);
    EXPECT_EQ(window.GridModel()->index(449, 2).data().toString(),
              QString::fromUtf8("j\xc3\xbcrgen"));

    window.RangeBox()->setCurrentIndex(HistoryWindow::Last7Days);
    Settle(window);
    EXPECT_EQ(window.GridModel()->rowCount(), 451);
    window.FilterEdit()->setText("user:ann service:www");
    window.Apply();
    Settle(window);
    EXPECT_EQ(window.GridModel()->rowCount(), 150);
    QTableWidget* users = window.TotalsTable(HistoryQuery::ByUser);
    ASSERT_EQ(users->rowCount(), 1);
    EXPECT_EQ(users->item(0, 1)->text(), "150");
    EXPECT_EQ(users->item(0, 2)->text(), "150000");

    window.GraphByBox()->setCurrentIndex(1);
    window.Apply();
    Settle(window);
    EXPECT_EQ(window.Graph()->Title(), "Traffic by user");
    ASSERT_EQ(window.Graph()->SubsetCount(), 1);
    EXPECT_EQ(window.Graph()->SubsetLabel(0), "ann");
    float sum = 0;
    for (int p = 0; p < window.Graph()->PointCount(); ++p) sum += window.Graph()->Value(0, p);
    EXPECT_EQ(sum, 4040.0f);
    EXPECT_FALSE(window.Busy()->isVisible());

    // A connection that gave no user is not a blank row.
    HistoryConnection anonymous = Finished("", "www", 0);
    EXPECT_EQ(HistoryGridModel::CellText(anonymous, HistoryQuery::ColUser), "(no user)");
}

TEST_F(HistoryWindowTest, ExportsTheGridAndTotalsAsCsvAndTellsWhenItCannot) {
    HistoryWindow window(Path());
    window.RangeBox()->setCurrentIndex(HistoryWindow::Last30Days);
    Settle(window);
    window.ExportTotals(m_Dir.filePath("totals.csv"));
    window.FilterEdit()->setText("old");
    window.Apply();
    window.ExportGrid(m_Dir.filePath("grid.csv"));
    Settle(window);
    QFile grid(m_Dir.filePath("grid.csv"));
    ASSERT_TRUE(grid.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = grid.readAll().split('\n');
    ASSERT_EQ(lines.size(), 3);  // header, one row, and the end
    EXPECT_TRUE(lines[1].startsWith("proxy.lan,1:"));
    EXPECT_TRUE(lines[1].contains(",old,"));
    QFile totals(m_Dir.filePath("totals.csv"));
    ASSERT_TRUE(totals.open(QIODevice::ReadOnly));
    const QByteArray csv = totals.readAll();
    EXPECT_TRUE(csv.contains("user,old,1,1000,10,1010\r\n"));
    EXPECT_TRUE(csv.contains("user,j\xc3\xbcrgen,150,"));  // Latin-1 from the monitor, UTF-8 here

    window.ExportGrid(m_Dir.filePath("missing/grid.csv"));
    Settle(window);
    ASSERT_EQ(m_Messages.size(), 1);
    EXPECT_TRUE(m_Messages[0].startsWith("The grid could not be exported to "));
}

// On a small screen (twice the scale on a laptop) the window is as narrow as
// the screen: its choices take two rows, and the graph keeps room for a plot
// beside its titles, axes and legend.
TEST_F(HistoryWindowTest, ANarrowWindowWrapsItsChoicesAndKeepsTheGraphReadable) {
    HistoryWindow window(Path());
    window.setWindowState(Qt::WindowNoState);
    window.show();
    window.resize(640, 560);
    ASSERT_TRUE(RunEventsUntil([&] { return window.IsIdle() && window.width() <= 640; }));
    EXPECT_TRUE(window.ChoicesWrapped());
    EXPECT_GE(window.Graph()->height(), HistoryWindow::GraphMinimumHeight);
    window.resize(1400, 720);
    ASSERT_TRUE(RunEventsUntil([&] { return window.width() == 1400; }));
    EXPECT_FALSE(window.ChoicesWrapped());
}

// Settings go to the program's writer: off records nothing; clearing asks first.
TEST_F(HistoryWindowTest, SettingsSwitchRecordingOffAndClearOnlyWhenConfirmed) {
    HistoryService& service = HistoryService::Instance();
    auto recorded = [&] {
        service.Flush();
        HistoryQuery query;
        query.Open(service.Path().toStdString());
        HistoryRange all;
        all.m_To = INT64_MAX;
        return query.Count(all);
    };
    auto submit = [&] {
        HistoryBatch batch;
        batch.m_Connections.push_back(Finished("kim", "www", std::time(nullptr)));
        service.Submit(std::move(batch));
    };
    submit();
    const int64_t before = recorded();
    ASSERT_GT(before, 0);

    QStringList asked;
    SetDialogHook([&](QDialog& dialog) {
        asked << dialog.windowTitle();
        return int(asked.size() == 1 ? QMessageBox::No : QMessageBox::Yes);
    });
    HistoryOptionsDlg dialog;
    EXPECT_FALSE(dialog.ClearHistory());
    EXPECT_EQ(recorded(), before);
    EXPECT_TRUE(dialog.ClearHistory());
    EXPECT_EQ(recorded(), 0);
    EXPECT_EQ(asked, QStringList({"Clear History", "Clear History"}));
    SetDialogHook({});

    dialog.RecordBox()->setChecked(false);
    dialog.DaysBox()->setValue(7);
    dialog.accept();
    EXPECT_FALSE(service.IsEnabled());
    EXPECT_EQ(service.KeepDays(), 7);
    submit();
    EXPECT_EQ(recorded(), 0);
    service.SetOptions(true, 30, 1024);
}

// A session's graph and the History graph open their points here: the range,
// server and filter given stay (the fit to the file answers later and must
// not undo them), and a click on a line of the graph shows the connections
// of its bucket and its service.
TEST_F(HistoryWindowTest, ShowConnectionsKeepsItsChoicesAndAClickOnTheGraphDrillsDown) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    {
        HistoryWriter writer(Path().toStdString(), HistoryWriterOptions(), nullptr);
        HistoryBatch batch;
        HistoryPeriod period;
        period.m_Server = "proxy.lan";
        period.m_Time = now - 2900;
        period.m_Seconds = 60;
        period.m_Services["www"] = {90000, 900};
        batch.m_Periods.push_back(period);
        writer.Submit(std::move(batch));
    }
    HistoryWindow window(Path());
    window.show();
    const int64_t from = now - 3000;
    window.ShowConnections(from, now - 540, "proxy.lan", "service:=www");
    Settle(window);
    EXPECT_EQ(window.RangeBox()->currentIndex(), HistoryWindow::Custom);
    EXPECT_EQ(window.FromEdit()->dateTime().toSecsSinceEpoch(), from);
    EXPECT_EQ(window.ToEdit()->dateTime().toSecsSinceEpoch(), now - 540);
    EXPECT_EQ(window.ServerBox()->currentText(), "proxy.lan");
    EXPECT_EQ(window.FilterEdit()->text(), "service:=www");
    EXPECT_EQ(window.Tabs()->currentIndex(), 0);
    EXPECT_EQ(window.GridModel()->rowCount(), 225);  // the old one and the ftp ones left out

    // Minute buckets from `from`: the period above is the second one.
    GraphCtrl* graph = window.Graph();
    ASSERT_TRUE(
        RunEventsUntil([&] { return graph->height() >= HistoryWindow::GraphMinimumHeight; }));
    ASSERT_EQ(graph->SubsetLabel(0), "www");
    QTest::mouseClick(graph, Qt::LeftButton, {}, graph->PointPosition(0, 1).toPoint());
    Settle(window);
    EXPECT_EQ(window.FromEdit()->dateTime().toSecsSinceEpoch(), from + 60);
    EXPECT_EQ(window.ToEdit()->dateTime().toSecsSinceEpoch(), from + 120);
    EXPECT_EQ(window.FilterEdit()->text(), "service:=\"www\"");
    ASSERT_EQ(window.GridModel()->rowCount(), 30);
    // The rows come a page at a time, when first asked for (a paint may not have yet).
    window.GridModel()->index(0, HistoryQuery::ColService).data();
    Settle(window);
    for (int row = 0; row < 30; ++row) {
        EXPECT_EQ(window.GridModel()->index(row, HistoryQuery::ColService).data().toString(),
                  "www");
    }
    const QString folder = qEnvironmentVariable("VGL_SHOT_DIR");
    if (!folder.isEmpty()) window.grab().save(folder + "/drill-down.png");
}
