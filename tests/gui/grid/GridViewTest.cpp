// The connection grid over a live session: rows from the table, hidden
// columns, the corner button, selection and scrolling across polls, copy,
// sorting by value, frozen columns and paginated printing.

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "gui/framework/CommandIds.h"
#include "gui/framework/GWPrint.h"
#include "gui/session/SessionFixture.h"
#include "support/GridColumns.h"

namespace {


std::vector<MonBytes> Connections(uint32_t count) {
    std::vector<std::vector<MonBytes>> all;
    for (uint32_t id = 1; id <= count; ++id) all.push_back(Connection(id, "www", id, 0));
    return Join(all);
}

class GridTest : public SessionTest {
protected:
    QStringList Column(int column) const {
        QStringList texts;
        for (int row = 0; row < Rows(); ++row) texts << Cell(row, column);
        return texts;
    }
    void ClickHeader(QHeaderView* header, int column) {
        const QPoint point(header->sectionViewportPosition(column) + 4, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, point);
    }
};

TEST_F(GridTest, HeadersRowsAndReadOnlyCellsComeFromTheTable) {
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(m_pGrid->verticalHeader()->isHidden());
    EXPECT_EQ(m_pGrid->model()->headerData(9, Qt::Horizontal).toString(), "Authentification");
    m_Monitor.QueueBatch(Join({Connection(1, "www", 1536, 0), Connection(2, "", 0, 0)}));
    Connect(m_Monitor.Host());
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, ColInTraffic), "1536");
    EXPECT_EQ(Cell(1, ColService), "Others");
    EXPECT_EQ(Cell(0, 9), "Username/Password");
    const QModelIndex cell = m_pGrid->model()->index(0, ColUserName);
    EXPECT_FALSE(m_pGrid->model()->flags(cell) & Qt::ItemIsEditable);
    m_pGrid->setCurrentIndex(cell);
    QTest::keyClicks(m_pGrid, "x");
    EXPECT_EQ(Cell(0, ColUserName), "user1");
    // A row the list no longer has (the table emptied, the grid not told yet) reads as empty.
    const QModelIndex second = m_pGrid->model()->index(1, ColUserName);
    ASSERT_TRUE(second.isValid());
    m_pDoc->m_Table.ClearAll();
    EXPECT_EQ(second.data().toString(), "");
}

TEST_F(GridTest, MonitorTextsShowAsUtf8WhenValidElseByteForByteInGridAndCopy) {
    const auto named = [](uint32_t id, const std::string& user) {
        return EncodeOpen(7, id, 0x02, 1700000000, user, EncodeSockAddr("10.0.0.1", 40000), "c");
    };
    m_Monitor.QueueBatch({named(1, "Jos\xE9"), named(2, "Jos\xC3\xA9"), named(3, "Jos\xC3")});
    Connect(m_Monitor.Host());
    const QString jose = QStringLiteral("Jos\u00E9");
    EXPECT_EQ(Column(ColUserName), QStringList({jose, jose, QStringLiteral("Jos\u00C3")}));

    m_pDoc->OnDisconnect();
    m_pGrid->selectionModel()->select(m_pGrid->model()->index(0, ColUserName),
                                      QItemSelectionModel::Select);
    QTest::keySequence(m_pGrid, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), "User Name\n" + jose + "\n");
}

TEST_F(GridTest, HiddenColumnsAndTheCornerButtonFollowTheSession) {
    m_pGrid->m_ColumnInfo[ColUserName].m_bHidden = 1;
    m_pGrid->m_ColumnInfo[ColService].m_bHidden = 1;
    m_pGrid->ApplyColumnVisibility();
    for (int column = 0; column < 11; ++column) {
        EXPECT_EQ(m_pGrid->isColumnHidden(column), column == ColUserName || column == ColService);
    }
    m_pGrid->m_ColumnInfo[ColUserName].m_bHidden = 0;
    m_pGrid->ApplyColumnVisibility();
    EXPECT_FALSE(m_pGrid->isColumnHidden(ColUserName));

    EXPECT_TRUE(m_pGrid->isCornerButtonEnabled());
    Connect(m_Monitor.Host());
    EXPECT_FALSE(m_pGrid->isCornerButtonEnabled());
    m_pDoc->OnDisconnect();
    EXPECT_TRUE(m_pGrid->isCornerButtonEnabled());
}

TEST_F(GridTest, APollKeepsTheSelectionOnItsConnectionAndTheScrollPosition) {
    m_pWindow->resize(800, 500);
    m_pWindow->show();
    m_Monitor.QueueBatch(Connections(40));
    m_Monitor.QueueBatch({EncodeClose(7, 3)});  // shown once more, then gone
    Connect(m_Monitor.Host());
    m_pGrid->selectionModel()->select(m_pGrid->model()->index(19, ColUserName),
                                      QItemSelectionModel::ClearAndSelect);
    m_pGrid->doItemsLayout();  // what the event loop does before painting
    m_pGrid->verticalScrollBar()->setValue(m_pGrid->verticalScrollBar()->maximum());
    const int scrolled = m_pGrid->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);

    Tick(60);
    EXPECT_EQ(Rows(), 40);
    Tick(60);
    ASSERT_EQ(Rows(), 39);
    m_pGrid->doItemsLayout();
    const QModelIndexList selected = m_pGrid->selectionModel()->selectedIndexes();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0].data().toString(), "user20");
    EXPECT_EQ(selected[0].row(), 18);
    EXPECT_EQ(m_pGrid->verticalScrollBar()->value(),
              std::min(scrolled, m_pGrid->verticalScrollBar()->maximum()));
}

TEST_F(GridTest, CopyPutsTheSelectionUnderItsTitlesOnlyWhileDisconnected) {
    m_Monitor.QueueBatch(Connections(3));
    Connect(m_Monitor.Host());
    QApplication::clipboard()->setText("before");
    auto* selection = m_pGrid->selectionModel();
    auto* model = m_pGrid->model();
    selection->select(model->index(0, ColInTraffic), QItemSelectionModel::Select);
    selection->select(model->index(2, ColUserName), QItemSelectionModel::Select);
    selection->select(model->index(2, ColInTraffic), QItemSelectionModel::Select);
    QTest::keySequence(m_pGrid, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), "before");

    m_pDoc->OnDisconnect();
    QTest::keySequence(m_pGrid, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), "User Name\tIn Traffic\n\t1\nuser3\t3\n");
}

TEST_F(GridTest, HeaderClicksSortByValueInTheColumnsDirection) {
    m_Monitor.QueueBatch(
        Join({Connection(1, "www", 9, 0, 1700000300), Connection(2, "ftp", 100, 0, 1700000100),
              Connection(3, "telnet", 20, 0, 1700000200)}));
    m_Monitor.QueueBatch({EncodeUpdate(7, 1, "", {}, "", {}, "", 1000, 0)});
    m_pWindow->show();
    Connect(m_Monitor.Host());

    ClickHeader(m_pGrid->horizontalHeader(), ColInTraffic);  // descending by default
    EXPECT_EQ(Column(ColInTraffic), (QStringList{"100", "20", "9"}));
    EXPECT_EQ(m_pGrid->SortColumn(), ColInTraffic);
    // A second click reverses, and the table page's descriptor says so too.
    ClickHeader(m_pGrid->horizontalHeader(), ColInTraffic);
    EXPECT_EQ(Column(ColInTraffic), (QStringList{"9", "20", "100"}));
    EXPECT_EQ(m_pGrid->m_ColumnInfo[ColInTraffic].m_bAscending, 1);
    EXPECT_EQ(m_pGrid->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);

    // The order is kept up at every poll, from the table's current values.
    Tick(60);
    EXPECT_EQ(Column(ColInTraffic), (QStringList{"20", "100", "1000"}));

    m_pGrid->m_ColumnInfo[ColStartTime].m_bAscending = 1;
    m_pGrid->SortByColumn(ColStartTime);
    EXPECT_EQ(Column(ColUserName), (QStringList{"user2", "user3", "user1"}));
    m_pGrid->SortByColumn(ColService);  // text, descending
    EXPECT_EQ(Column(ColService), (QStringList{"www", "telnet", "ftp"}));
    m_pGrid->SortByColumn(-1);
    EXPECT_EQ(Column(ColUserName), (QStringList{"user1", "user2", "user3"}));
}

TEST_F(GridTest, FrozenColumnsStayInPlaceWhileTheGridScrollsSideways) {
    m_pWindow->resize(500, 400);
    m_pWindow->show();
    m_Monitor.QueueBatch(Connections(5));
    Connect(m_Monitor.Host());
    m_pGrid->m_ColumnInfo[ColSource].m_bHidden = 1;
    m_pGrid->ApplyColumnVisibility();
    m_pGrid->SetFrozenColumns(2);

    QTableView* frozen = m_pGrid->FrozenView();
    ASSERT_TRUE(frozen->isVisible());
    for (int column = 0; column < 11; ++column) {
        EXPECT_EQ(frozen->isColumnHidden(column), column != 1 && column != 2) << column;
    }
    const int left = frozen->geometry().left();
    EXPECT_EQ(frozen->width(), m_pGrid->columnWidth(1) + m_pGrid->columnWidth(2));
    m_pGrid->horizontalScrollBar()->setValue(m_pGrid->horizontalScrollBar()->maximum());
    EXPECT_GT(m_pGrid->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(frozen->geometry().left(), left);
    EXPECT_EQ(frozen->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(frozen->model()->index(3, ColUserName).data().toString(), "user4");
    EXPECT_EQ(frozen->selectionModel(), m_pGrid->selectionModel());

    m_pGrid->SetFrozenColumns(0);
    EXPECT_FALSE(frozen->isVisible());
}

TEST_F(GridTest, PrintsEveryRowOnAsManyPagesAsNeeded) {
    m_Monitor.QueueBatch(Connections(45));
    Connect(m_Monitor.Host());
    m_pDoc->OnDisconnect();
    for (int column = 3; column < 11; ++column) m_pGrid->m_ColumnInfo[column].m_bHidden = 1;
    m_pGrid->ApplyColumnVisibility();  // narrow enough to print at full size
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("grid.pdf"));
    printer.setPageSize(QPageSize(QPageSize::A6));
    ASSERT_TRUE(GWPrintViewTo(*m_pGrid, printer));
    QFile pdf(printer.outputFileName());
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdf.readAll();
    const int pages = static_cast<int>(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") +
                                       bytes.count("/Type /Page/") + bytes.count("/Type /Page>"));
    EXPECT_GE(pages, 2);
}

}  // namespace
