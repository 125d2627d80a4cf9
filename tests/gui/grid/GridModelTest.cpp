// The grid's model under Qt's own model checker, which ends the program at
// the first broken invariant a view relies on: polls with the rows sorted,
// connections appearing and going, and the selection and current cell
// following their connections.

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QPersistentModelIndex>

#include "gui/session/SessionFixture.h"
#include "support/GridColumns.h"

namespace {

// Run with the sorts on the model's thread, and on the sorter's: the rows,
// the selection and the current cell must end the same.
class GridModelTest : public SessionTest, public ::testing::WithParamInterface<bool> {
protected:
    GridModelTest() {
        if (GetParam()) m_pGrid->Model()->SetSorterRows(0);
    }
    void Sorted() {
        ASSERT_TRUE(RunEventsUntil([this] { return !m_pGrid->Model()->IsReordering(); }));
    }
    QString Selected() const {
        const QModelIndexList selected = m_pGrid->selectionModel()->selectedIndexes();
        return selected.size() == 1 ? selected[0].data().toString()
                                    : QString("%1 selected").arg(selected.size());
    }
    QStringList Users() const {
        QStringList users;
        for (int row = 0; row < Rows(); ++row) users << Cell(row, ColUserName);
        return users;
    }
    std::vector<MonBytes> Traffic(uint32_t id, uint32_t in) {
        return {EncodeUpdate(7, id, "", {}, "", {}, "", in, 0)};
    }
};

TEST_P(GridModelTest, KeepsItsInvariantsAndTheSelectionThroughSortedPolls) {
    QAbstractItemModelTester tester(m_pGrid->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    m_pWindow->show();
    m_pGrid->SetFrozenColumns(1);
    m_pGrid->SortByColumn(ColInTraffic);  // descending
    Sorted();
    m_Monitor.QueueBatch(Join({Connection(1, "www", 10, 0), Connection(2, "www", 40, 0),
                               Connection(3, "ftp", 30, 0), Connection(4, "ftp", 20, 0)}));
    // Two new connections, one overtakes the others, one closes (it shows
    // once more), one fails.
    m_Monitor.QueueBatch(Join({Traffic(1, 100),
                               Connection(5, "www", 25, 0),
                               Connection(6, "www", 5, 0),
                               {EncodeClose(7, 3)},
                               Connection(7, "ftp", 1, 0),
                               {EncodeResult(7, 7, 5, "refused"), EncodeClose(7, 7)}}));
    // The closed one is gone, another closes and the order turns round.
    m_Monitor.QueueBatch(Join({Traffic(6, 500), {EncodeClose(7, 2)}}));
    // Every connection closes.
    m_Monitor.QueueBatch(
        {EncodeClose(7, 1), EncodeClose(7, 4), EncodeClose(7, 5), EncodeClose(7, 6)});
    Connect(m_Monitor.Host());
    Sorted();
    ASSERT_EQ(Users(), (QStringList{"user2", "user3", "user4", "user1"}));

    auto* model = m_pGrid->model();
    m_pGrid->selectionModel()->select(model->index(2, ColUserName),
                                      QItemSelectionModel::ClearAndSelect);
    m_pGrid->selectionModel()->setCurrentIndex(model->index(1, ColUserName),
                                               QItemSelectionModel::NoUpdate);
    const QPersistentModelIndex first(model->index(0, ColUserName));

    Tick(60);
    Sorted();
    EXPECT_EQ(Users(), (QStringList{"user1", "user2", "user3", "user5", "user4", "user6"}));
    EXPECT_EQ(Selected(), "user4");
    EXPECT_EQ(m_pGrid->currentIndex().data().toString(), "user3");
    EXPECT_EQ(first.data().toString(), "user2");

    Tick(60);
    Sorted();
    EXPECT_EQ(Users(), (QStringList{"user6", "user1", "user2", "user5", "user4"}));
    EXPECT_EQ(Selected(), "user4");
    EXPECT_FALSE(m_pGrid->currentIndex().isValid());  // its connection is gone
    EXPECT_EQ(first.row(), 2);

    Tick(60);
    Tick(60);
    Sorted();
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Selected(), "0 selected");
    EXPECT_FALSE(first.isValid());

    // Over to the failed connections and back, sorted and then not.
    m_pDoc->OnShowFailed();
    Settle();
    Sorted();
    EXPECT_EQ(Users(), QStringList{"user7"});
    m_pDoc->OnShowActive();
    Settle();
    m_pGrid->SortByColumn(-1);
    m_pDoc->OnShowFailed();
    Settle();
    EXPECT_EQ(Users(), QStringList{"user7"});
}

INSTANTIATE_TEST_SUITE_P(OnEitherThread, GridModelTest, ::testing::Bool());

}  // namespace
