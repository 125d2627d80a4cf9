#pragma once
// The grid's table model. It holds no cell data: every text is asked of the
// session's connection table when the view paints, prints or copies a cell.
// Its only state is the row count and the order of the rows: by default the
// table's own order, or sorted by one column, as a mapping from grid row to
// table row. Across updates it keeps the view's selection and current cell on
// the same connections. Many rows are sorted on a thread of their own, over
// a copy of their keys, while the grid goes on showing its previous order.
//
// A session's grid shows one table. The grid of all servers shows several,
// one after the other as if they were one table (its rows numbered on from
// the last row of the table before), each with the server it came from,
// which a column of its own can show.

#include <QAbstractTableModel>
#include <string>
#include <string_view>
#include <vector>

#include "core/table/ColumnInfo.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/FilterIndex.h"
#include "gui/grid/RowSorter.h"
#include "gui/grid/TextCollator.h"

class EntryObj;
class PMCTable;

// A table the grid shows, and the server its connections belong to.
struct GridSource {
    const PMCTable* m_pTable = nullptr;
    std::string m_Server;
};

class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The descriptors are the view's; the model reads titles and sort
    // directions from them as it goes.
    explicit GridModel(const ColumnInfoArray& columns, QObject* parent = nullptr);

    // A cell's text as the table made it, plain digits and all, for copies;
    // the display role shows the rates with the locale's group separators.
    static constexpr int RawTextRole = Qt::UserRole + 1;

    // One table, whose server is the one it names itself.
    void SetTable(const PMCTable* table);
    // The first table shown; null for none.
    const PMCTable* Table() const;
    // These tables, in this order. The rows of a table shown before keep the
    // view's selection on them; every table's rows are counted again.
    void SetSources(const std::vector<GridSource>& sources);
    // This table applied a poll: its rows are counted again and reordered.
    void TableUpdated(const PMCTable* table);
    // Its entries may have been replaced (a new connection starts empty):
    // the filter's texts are taken anew before they are searched again.
    void TableChanged(const PMCTable* table);
    // The rows of this table as last counted; -1 for a table not shown.
    int RowsOf(const PMCTable* table) const;
    size_t SourceCount() const { return m_Sources.size(); }

    // The column of the server's name, after the table's columns; the view
    // decides where it shows. Off until it is asked for.
    static constexpr int ServerColumn = Column::Count;
    void ShowServerColumn(bool show);
    bool ServerColumnShown() const { return m_bServerColumn; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The table's display list has this many rows now (negative counts as 0).
    // Rows are added or removed at the end and reordered in place, so the
    // view keeps its selection and scroll position.
    void SetRowCount(int rows);
    // Orders the rows by this column (0 .. g_nColumns - 1) in the direction its descriptor
    // chooses; -1 goes back to the table's order. The server column, while
    // shown, sorts A to Z first and the other way at the next call.
    void SortBy(int column);
    int SortColumn() const { return m_SortColumn; }
    bool SortAscending() const;
    // The table's row (from 1) shown in this grid row (from 0); with several
    // tables, numbered on from table to table.
    int TableRow(int row) const;
    // Keeps only the connections that meet this filter line (empty: all). A
    // malformed line keeps all; false then, and the filter's Error() says why.
    bool SetFilter(const std::string& text);
    const ConnectionFilter& Filter() const { return m_Filter; }
    // The connections on show in the table's display list, before filtering.
    int TableRowCount() const { return m_nTableRows; }
    // The connections the grid shows, in its order.
    std::vector<const EntryObj*> ShownEntries() const;
    // The connection shown in this grid row (from 0); null beyond them.
    const EntryObj* EntryOfRow(int row) const;
    // The server of each of those, in the same order.
    std::vector<std::string_view> ShownServers() const;
    // The header titles changed (the options' table page wrote them back).
    void ColumnsChanged();

    // True while a filter or a sort of many rows is on its way; the grid
    // shows the connections it showed before meanwhile, and reordered()
    // tells the end.
    bool IsReordering() const { return m_bReordering; }
    // Counts the changes of the rows on show (a poll, the filter, the order).
    uint64_t Changes() const { return m_Job; }
    // From this many rows on, sorts run on the sorter's thread.
    void SetSorterRows(size_t rows) { m_SorterRows = rows; }

    // Texts in the order a reader expects: case aside, and numbers within
    // them by value (10.0.0.9 before 10.0.0.10) in every locale. Negative, 0 or positive.
    int CompareText(const std::string& left, const std::string& right) const;

signals:
    void reordered();

private:
    struct Source {
        const PMCTable* m_pTable = nullptr;
        std::string m_Server;  // empty: the one the table names
        uint64_t m_Tag = 0;    // tells its connections from another table's of the same id
        int m_nFirst = 0;      // the rows before its own
        int m_nRows = 0;
        FilterIndex m_Index;  // of its rows, built when a filter first needs it after a poll
        bool m_bIndexStale = true;
        bool m_bIndexBuilding = false;    // begun, and built a part per turn
        uint64_t m_IndexListVersion = 0;  // the table's display list it was begun on
    };
    const Source* SourceOf(int tableRow, int& ownRow) const;
    const EntryObj* EntryAt(int tableRow) const;
    const std::string& ServerOf(const Source& source) const;
    Source* Find(const PMCTable* table);
    void CountRows();
    std::vector<int> StartingOrder(std::vector<int> chosen) const;
    SortKeys KeysFor(std::vector<int> rows) const;
    bool AddKeys(SortKeys& keys, size_t count) const;
    void TakeKeys(uint64_t job);
    // others: rows not shown before follow those that were.
    std::vector<int> OrderMeanwhile(const std::vector<int>& rows, bool others = true) const;
    std::vector<int> AllRows() const;
    std::vector<const EntryObj*> EntriesOf(const Source& source) const;
    bool StartIndexing();
    void IndexSome(uint64_t job);
    uint64_t IdOf(int tableRow) const;
    // changed: the rows, filter or order changed; else a step of the last change goes on.
    void Reorder(bool changed = true);
    void OnSorted(uint64_t job, const std::vector<int>& rows);
    void ShowOrder(std::vector<int> order);
    void ShowMeanwhile(std::vector<int> order);
    void Settled();
    void ChooseRows(Source& source, std::vector<int>& chosen);
    std::vector<int> ChosenRows();

    const ColumnInfoArray& m_Columns;
    std::vector<Source>
        m_Sources;  // one, the session's table (maybe none yet), but in the grid of all
    uint64_t m_NextTag = 1;
    bool m_bServerColumn = false;
    bool m_bServerAscending = true;
    int m_nRows = 0;
    int m_nTableRows = 0;
    ConnectionFilter m_Filter;
    int m_SortColumn = -1;
    std::vector<int> m_Order;     // grid row -> table row (from 1)
    std::vector<uint64_t> m_Ids;  // the connection of each grid row at the last update; 0 none
    TextCollator m_Collator;
    RowSorter* m_pSorter = nullptr;  // started at the first sort of many rows
    SortKeys m_Taking;               // the keys of the next sort, while they are taken
    size_t m_SorterRows = 5000;      // from this many rows on, a filter or a sort goes in parts
    uint64_t m_Job = 0;              // the rows, filter or order changed this many times
    bool m_bReordering = false;
};
