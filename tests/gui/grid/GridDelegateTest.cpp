// The grid's cell painting keeps each cell's prepared text between paints;
// every picture must still be the one the style's own item painting gives,
// also after a cell's text, its column's width or the grid's font changed.

#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTest>

#include "gui/grid/GridDelegate.h"
#include "gui/session/SessionFixture.h"
#include "support/GridColumns.h"

namespace {


class GridDelegateTest : public SessionTest {
protected:
    void SetUp() override {
        // The duration follows the clock; two pictures taken a second apart
        // would differ there.
        m_pGrid->m_ColumnInfo[ColDuration].m_bHidden = 1;
        m_pGrid->ApplyColumnVisibility();
        m_pWindow->resize(760, 420);
        m_pWindow->show();
        QApplication::setActiveWindow(m_pWindow.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_pWindow.get()));
    }

    // The grid as it paints now, and as the stock item painting paints it.
    void ExpectStockPicture(const char* when) {
        SCOPED_TRACE(when);
        const QImage cached = Picture();
        GridDelegate* delegate = m_pGrid->Delegate();
        QStyledItemDelegate stock;
        m_pGrid->setItemDelegate(&stock);
        m_pGrid->FrozenView()->setItemDelegate(&stock);
        const QImage expected = Picture();
        m_pGrid->setItemDelegate(delegate);
        m_pGrid->FrozenView()->setItemDelegate(delegate);
        ASSERT_EQ(cached.size(), expected.size());
        EXPECT_TRUE(cached == expected) << Differences(cached, expected) << " pixels differ";
    }

    QImage Picture() const { return m_pGrid->grab().toImage(); }

    static int Differences(const QImage& left, const QImage& right) {
        int count = 0;
        for (int y = 0; y < left.height(); ++y) {
            for (int x = 0; x < left.width(); ++x) count += left.pixel(x, y) != right.pixel(x, y);
        }
        return count;
    }
};

TEST_F(GridDelegateTest, PaintsWhatTheStylePaintsAsTextsWidthsAndFontsChange) {
    m_Monitor.QueueBatch(Join(
        {Connection(1, "www", 1536, 0), Connection(2, "ftp", 99, 7), Connection(3, "", 0, 0)}));
    m_Monitor.QueueBatch({EncodeUpdate(7, 2, "", {}, "", {}, "", 123456, 7)});
    Connect(m_Monitor.Host());
    m_pGrid->SetFrozenColumns(1);
    m_pGrid->SortByColumn(ColInTraffic);
    m_pGrid->setFocus();
    m_pGrid->setCurrentIndex(m_pGrid->model()->index(1, ColUserName));
    m_pGrid->selectionModel()->select(m_pGrid->model()->index(2, ColInTraffic),
                                      QItemSelectionModel::Select);
    m_pGrid->selectionModel()->select(m_pGrid->model()->index(0, 0), QItemSelectionModel::Select);
    ExpectStockPicture("selection, focus, sorting and a frozen column");

    Tick(60);
    ASSERT_EQ(Cell(0, ColInTraffic), "123456");
    ExpectStockPicture("a text that changed");

    m_pGrid->setColumnWidth(ColDestination, 30);
    m_pGrid->setColumnWidth(0, 40);  // frozen
    ExpectStockPicture("narrowed columns");
    m_pGrid->horizontalScrollBar()->setValue(m_pGrid->horizontalScrollBar()->maximum());
    ExpectStockPicture("scrolled sideways under the frozen column");

    QFont font = m_pGrid->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setItalic(true);
    m_pGrid->setFont(font);
    ExpectStockPicture("a larger italic font");
}

TEST_F(GridDelegateTest, KeepsNoMoreCellsThanItsCapacity) {
    std::vector<std::vector<MonBytes>> connections;
    for (uint32_t id = 1; id <= 30; ++id) connections.push_back(Connection(id, "www", id, 0));
    m_Monitor.QueueBatch(Join(connections));
    Connect(m_Monitor.Host());
    GridDelegate small(nullptr, 16);
    m_pGrid->setItemDelegate(&small);
    for (int step = 0; step < 6; ++step) {
        m_pGrid->verticalScrollBar()->setValue(step * 5);
        Picture();
        EXPECT_LE(small.CachedCells(), 16);
        EXPECT_GT(small.CachedCells(), 0);
    }
    m_pGrid->setItemDelegate(m_pGrid->Delegate());
}

}  // namespace
