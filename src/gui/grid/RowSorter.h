#pragma once
// Sorting 100,000 rows by a text takes several frames, so the grid does not
// sort them on its thread: it copies the key of each row (a number or a
// text) in one pass, hands the copy to this sorter's thread and keeps showing
// its previous order until the sorted rows come back. Only the newest job
// counts: one asked for while another waits replaces it.

#include <QObject>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/base/LatestWork.h"
#include "gui/grid/TextCollator.h"

// The rows to sort and a key for each, taken from the table at one moment.
struct SortKeys {
    std::vector<int> m_Rows;           // table rows, in the order to start from
    std::vector<uint64_t> m_Numbers;   // a number column: one per row
    std::vector<std::string> m_Texts;  // a text column: one per row
    bool m_bText = false;
    bool m_bAscending = true;
};

// Leaves m_Rows ordered by their keys; rows whose keys compare equal keep the
// table's order, so there is one order whatever order they came in. Rows
// already in order cost one check of each neighbouring pair.
void SortByKeys(SortKeys& keys, const TextCollator& collator);

class RowSorter : public QObject {
    Q_OBJECT
public:
    explicit RowSorter(QObject* parent = nullptr);

    // Sorts on the sorter's thread; sorted() tells the result on this
    // object's thread, with the job's number.
    void Start(uint64_t job, SortKeys keys);

signals:
    void sorted(uint64_t job, const std::vector<int>& rows);

private:
    using Job = std::pair<uint64_t, SortKeys>;
    void Sort(Job& job);

    TextCollator m_Collator;  // the thread's own: the grid's stays on the grid's thread
    LatestWork<Job> m_Work;   // last: its thread uses the rest
};
