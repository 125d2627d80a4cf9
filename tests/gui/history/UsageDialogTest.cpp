// History > Usage over a small file of two servers: the rows per day and
// server, per month and user, and the CSV that is written of them.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>

#include "core/history/HistoryStore.h"
#include "gui/framework/Dialogs.h"
#include "gui/history/HistoryWindow.h"
#include "gui/history/UsageDialog.h"
#include "support/SessionSettle.h"

namespace {

constexpr int64_t Dec8At2330 = 1796772600;  // UTC
constexpr int64_t Dec9At0030 = 1796776200;

HistoryConnection Used(const std::string& server, const std::string& user, int64_t end,
                       int64_t seconds) {
    HistoryConnection c;
    c.m_Server = server;
    c.m_Key = "1:" + std::to_string(end);
    c.m_User = user;
    c.m_StartTime = end - seconds;
    c.m_EndTime = end;
    c.m_BytesIn = 1000;
    c.m_BytesOut = 10;
    return c;
}

QString RowText(const QTableWidget& table, int row) {
    QStringList cells;
    for (int column = 0; column < table.columnCount(); ++column) {
        if (!table.isColumnHidden(column)) cells << table.item(row, column)->text();
    }
    return cells.join(' ');
}

}  // namespace

TEST(UsageDialogTest, CountsPerDayAndServerOrPerMonthAndExportsTheTableAsShown) {
    QTemporaryDir folder;
    const QString path = folder.filePath("history.sqlite3");
    {
        HistoryBatch batch;
        batch.m_Connections = {
            Used("proxy-a", "alice", Dec8At2330, 3725), Used("proxy-a", "alice", Dec9At0030, 60),
            Used("proxy-b", "alice", Dec9At0030, 5), Used("proxy-a", "bob", Dec9At0030, 1)};
        HistoryStore store(path.toStdString());
        store.Open(Dec9At0030);
        store.Write(batch);
    }
    QStringList messages;
    SetMessageBoxHook([&messages](const QString& text) { messages << text; });
    HistoryWindow window(path);
    ASSERT_TRUE(RunEventsUntil([&] { return window.IsIdle(); }));
    UsageDialog* dialog = window.OpenUsage();
    ASSERT_TRUE(RunEventsUntil([&] { return dialog->IsIdle(); }));
    // It opens on the window's range (all the file holds), split by server.
    EXPECT_EQ(dialog->FromEdit()->date(), QDate(2026, 12, 8));
    EXPECT_EQ(dialog->ToEdit()->date(), QDate(2026, 12, 9));
    QTableWidget* table = dialog->Table();
    ASSERT_EQ(table->rowCount(), 4);
    EXPECT_EQ(RowText(*table, 0), "2026-12-08 proxy-a alice 1 1000 10 1010 1:02:05");
    EXPECT_EQ(RowText(*table, 1), "2026-12-09 proxy-a alice 1 1000 10 1010 0:01:00");
    EXPECT_EQ(RowText(*table, 3), "2026-12-09 proxy-b alice 1 1000 10 1010 0:00:05");
    const QString shots = qEnvironmentVariable("VGL_SHOT_DIR");
    if (!shots.isEmpty() && QDir().mkpath(shots)) dialog->grab().save(shots + "/usage-dialog.png");

    dialog->PeriodBox()->setCurrentIndex(1);
    dialog->SplitBox()->setCurrentIndex(0);
    ASSERT_TRUE(RunEventsUntil([&] { return dialog->IsIdle(); }));
    ASSERT_EQ(table->rowCount(), 2);
    table->sortItems(UsageDialog::ColTime, Qt::DescendingOrder);
    EXPECT_EQ(RowText(*table, 0), "2026-12 alice 3 3000 30 3030 1:03:10");
    ASSERT_TRUE(dialog->ExportCsv(folder.filePath("usage.csv")));
    QFile csv(folder.filePath("usage.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll(),
              "Period,User,Connections,In,Out,Total,Time\r\n"
              "2026-12,alice,3,3000,30,3030,1:03:10\r\n"
              "2026-12,bob,1,1000,10,1010,0:00:01\r\n");

    EXPECT_FALSE(dialog->ExportCsv(folder.filePath("missing/usage.csv")));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("The usage could not be exported to "));
    SetMessageBoxHook({});
}
