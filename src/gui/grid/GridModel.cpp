#include "gui/grid/GridModel.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <numeric>
#include <unordered_map>

#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"
#include "core/view/TextOrder.h"
#include "gui/framework/MonitorText.h"
#include "gui/grid/LocaleNumbers.h"
#include "gui/grid/RowSorter.h"

GridModel::GridModel(const ColumnInfoArray& columns, QObject* parent)
    : QAbstractTableModel(parent), m_Columns(columns), m_Sources(1) {}

void GridModel::SetTable(const PMCTable* table) {
    if (m_Sources.size() == 1 && table == m_Sources.front().m_pTable &&
        m_Sources.front().m_Server.empty())
        return;
    beginResetModel();
    m_Sources.clear();
    m_Sources.emplace_back();
    m_Sources.front().m_pTable = table;
    m_nRows = 0;
    m_nTableRows = 0;
    m_Order.clear();
    m_Ids.clear();
    endResetModel();
}

const PMCTable* GridModel::Table() const {
    return m_Sources.empty() ? nullptr : m_Sources.front().m_pTable;
}

// A table shown before keeps its tag, so that the connections under the
// view's selection are found again, and its index, whose texts a rebuild
// can mostly keep.
void GridModel::SetSources(const std::vector<GridSource>& sources) {
    std::vector<Source> next(sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
        Source& source = next[i];
        if (Source* known = Find(sources[i].m_pTable); known && known->m_Tag != 0) {
            source = std::move(*known);
            known->m_pTable = nullptr;  // a table given twice is shown twice, as two
        } else {
            source.m_Tag = m_NextTag++;
        }
        source.m_pTable = sources[i].m_pTable;
        source.m_Server = sources[i].m_Server;
        source.m_nRows = source.m_pTable ? static_cast<int>(source.m_pTable->DisplayCount()) : 0;
        source.m_bIndexStale = true;
    }
    m_Sources = std::move(next);
    CountRows();
    Reorder();
}

void GridModel::TableUpdated(const PMCTable* table) {
    Source* source = Find(table);
    if (!source) return;
    source->m_nRows = static_cast<int>(table->DisplayCount());
    source->m_bIndexStale = true;
    CountRows();
    Reorder();
}

void GridModel::TableChanged(const PMCTable* table) {
    if (Source* source = Find(table)) source->m_bIndexStale = true;
}

int GridModel::RowsOf(const PMCTable* table) const {
    for (const Source& source : m_Sources) {
        if (table && source.m_pTable == table) return source.m_nRows;
    }
    return -1;
}

GridModel::Source* GridModel::Find(const PMCTable* table) {
    if (!table) return nullptr;
    for (Source& source : m_Sources) {
        if (source.m_pTable == table) return &source;
    }
    return nullptr;
}

void GridModel::CountRows() {
    int rows = 0;
    for (Source& source : m_Sources) {
        source.m_nFirst = rows;
        rows += source.m_nRows;
    }
    m_nTableRows = rows;
}

void GridModel::ShowServerColumn(bool show) {
    if (show == m_bServerColumn) return;
    if (show) {
        beginInsertColumns(QModelIndex(), ServerColumn, ServerColumn);
        m_bServerColumn = true;
        endInsertColumns();
        return;
    }
    beginRemoveColumns(QModelIndex(), ServerColumn, ServerColumn);
    m_bServerColumn = false;
    endRemoveColumns();
    if (m_SortColumn == ServerColumn) SortBy(-1);
}

// With one table the grid's rows are its own; with several, a table's rows
// follow the last of the table before.
const GridModel::Source* GridModel::SourceOf(int tableRow, int& ownRow) const {
    if (m_Sources.size() == 1) {
        ownRow = tableRow;
        return &m_Sources.front();
    }
    for (const Source& source : m_Sources) {
        if (tableRow > source.m_nFirst && tableRow <= source.m_nFirst + source.m_nRows) {
            ownRow = tableRow - source.m_nFirst;
            return &source;
        }
    }
    return nullptr;
}

const EntryObj* GridModel::EntryAt(int tableRow) const {
    int ownRow = 0;
    const Source* source = SourceOf(tableRow, ownRow);
    return source && source->m_pTable ? source->m_pTable->DisplayEntry(ownRow) : nullptr;
}

const std::string& GridModel::ServerOf(const Source& source) const {
    if (source.m_Server.empty() && source.m_pTable) return source.m_pTable->ServerName();
    return source.m_Server;
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_nRows;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : g_nColumns + (m_bServerColumn ? 1 : 0);
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    int ownRow = 0;
    const Source* source = SourceOf(TableRow(index.row()), ownRow);
    if (!source || !source->m_pTable) return {};
    const int column = index.column();
    if (column == ServerColumn) {
        if (role == Qt::DisplayRole || role == RawTextRole) return MonitorText(ServerOf(*source));
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignVCenter | Qt::AlignLeft);
        return {};
    }
    if (role == Qt::DisplayRole || role == RawTextRole || role == Qt::ToolTipRole) {
        const QString text = MonitorText(source->m_pTable->GetCellText(ownRow, column));
        if (role == RawTextRole) return text;
        if (column == Column::InRate || column == Column::OutRate)
            return role == Qt::DisplayRole ? LocaleNumbers::Grouped(text) : QVariant();
        // A text cut short to its column's width is there whole in its tooltip.
        if (role == Qt::ToolTipRole)
            return ColumnSpecOf(column).m_Kind == ColumnKind::Text && !text.trimmed().isEmpty()
                       ? QVariant(text)
                       : QVariant();
        return text;
    }
    if (role == Qt::TextAlignmentRole) {
        const bool numeric = ColumnSpecOf(column).m_bAlignRight;
        return QVariant::fromValue(Qt::AlignVCenter | (numeric ? Qt::AlignRight : Qt::AlignLeft));
    }
    return {};
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == ServerColumn && m_bServerColumn) return QStringLiteral("Server");
    if (section < 0 || section >= g_nColumns) return {};
    if (static_cast<size_t>(section) < m_Columns.size()) {
        return QString::fromStdString(m_Columns[static_cast<size_t>(section)].m_Title);
    }
    return QString::fromStdString(ColumnTitle(section));
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;  // never editable
}

bool GridModel::setData(const QModelIndex&, const QVariant&, int) {
    return false;
}

int GridModel::TableRow(int row) const {
    if (row >= 0 && static_cast<size_t>(row) < m_Order.size()) {
        return m_Order[static_cast<size_t>(row)];
    }
    return row + 1;
}

void GridModel::SetRowCount(int rows) {
    // A poll or a switch of the list: the entries behind the rows changed.
    if (m_Sources.empty()) m_Sources.emplace_back();
    m_Sources.front().m_nRows = std::max(rows, 0);
    m_Sources.front().m_bIndexStale = true;
    CountRows();
    Reorder();
}

bool GridModel::SetFilter(const std::string& text) {
    const bool valid = m_Filter.SetText(text);
    Reorder();
    return valid;
}

std::vector<const EntryObj*> GridModel::ShownEntries() const {
    std::vector<const EntryObj*> entries;
    entries.reserve(m_Order.size());
    for (int tableRow : m_Order) {
        if (const EntryObj* entry = EntryAt(tableRow)) entries.push_back(entry);
    }
    return entries;
}

const EntryObj* GridModel::EntryOfRow(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= m_Order.size()) return nullptr;
    return EntryAt(m_Order[static_cast<size_t>(row)]);
}

std::vector<std::string_view> GridModel::ShownServers() const {
    std::vector<std::string_view> servers;
    servers.reserve(m_Order.size());
    for (int tableRow : m_Order) {
        int ownRow = 0;
        const Source* source = SourceOf(tableRow, ownRow);
        if (source && source->m_pTable && source->m_pTable->DisplayEntry(ownRow))
            servers.push_back(ServerOf(*source));
    }
    return servers;
}

// The rows (from 1) of a table the filter keeps, in the table's order. The
// index is brought up to date once per poll (folding again only the
// connections whose texts changed); each keystroke only searches it.
void GridModel::ChooseRows(Source& source, std::vector<int>& chosen) {
    if (m_Filter.KeepsAll() || !source.m_pTable) {
        for (int row = 1; row <= source.m_nRows; ++row) chosen.push_back(source.m_nFirst + row);
        return;
    }
    if (source.m_bIndexStale || source.m_bIndexBuilding) {
        source.m_Index.Build(EntriesOf(source));
        source.m_Index.SetServer(ServerOf(source));
        source.m_bIndexStale = false;
        source.m_bIndexBuilding = false;
    }
    for (size_t row : m_Filter.Select(source.m_Index))
        chosen.push_back(source.m_nFirst + static_cast<int>(row) + 1);
}

std::vector<const EntryObj*> GridModel::EntriesOf(const Source& source) const {
    std::vector<const EntryObj*> entries;
    entries.reserve(static_cast<size_t>(source.m_nRows));
    for (int row = 1; row <= source.m_nRows; ++row) {
        if (const EntryObj* entry = source.m_pTable->DisplayEntry(row)) entries.push_back(entry);
    }
    return entries;
}

// A filter over many rows whose texts a poll may have changed: their index
// is built a part per turn, and the filter chooses once it is whole.
bool GridModel::StartIndexing() {
    if (m_Filter.KeepsAll()) return false;
    bool started = false;
    for (Source& source : m_Sources) {
        if (!source.m_pTable || static_cast<size_t>(source.m_nRows) < m_SorterRows) continue;
        if (source.m_bIndexStale) {
            source.m_Index.Begin(EntriesOf(source));
            source.m_Index.SetServer(ServerOf(source));
            source.m_IndexListVersion = source.m_pTable->DisplayListVersion();
            source.m_bIndexStale = false;
            source.m_bIndexBuilding = true;
        }
        started = started || source.m_bIndexBuilding;
    }
    return started;
}

// A display list made again since the build began (its poll is about to
// tell the model) leaves the build waiting: the next change begins it anew.
void GridModel::IndexSome(uint64_t job) {
    using Clock = std::chrono::steady_clock;
    constexpr size_t EntriesPerLook = 1000;
    const auto until = Clock::now() + std::chrono::milliseconds(8);
    if (job != m_Job) return;
    bool whole = true;
    for (Source& source : m_Sources) {
        if (!source.m_bIndexBuilding) continue;
        if (source.m_pTable->DisplayListVersion() != source.m_IndexListVersion) return;
        while (source.m_bIndexBuilding && Clock::now() < until)
            source.m_bIndexBuilding = !source.m_Index.Continue(EntriesPerLook);
        whole = whole && !source.m_bIndexBuilding;
    }
    if (!whole) {
        QTimer::singleShot(0, this, [this, job] { IndexSome(job); });
        return;
    }
    Reorder(false);
}

std::vector<int> GridModel::AllRows() const {
    std::vector<int> rows(static_cast<size_t>(m_nTableRows));
    std::iota(rows.begin(), rows.end(), 1);
    return rows;
}

std::vector<int> GridModel::ChosenRows() {
    std::vector<int> chosen;
    chosen.reserve(static_cast<size_t>(m_nTableRows));
    for (Source& source : m_Sources) ChooseRows(source, chosen);
    return chosen;
}

void GridModel::SortBy(int column) {
    if (column == ServerColumn && m_bServerColumn) {
        m_bServerAscending = m_SortColumn == ServerColumn ? !m_bServerAscending : true;
        m_SortColumn = column;
    } else {
        m_SortColumn = column >= 0 && column < g_nColumns ? column : -1;
    }
    Reorder();
}

bool GridModel::SortAscending() const {
    if (m_SortColumn == ServerColumn) return m_bServerAscending;
    return m_SortColumn >= 0 && static_cast<size_t>(m_SortColumn) < m_Columns.size() &&
           m_Columns[static_cast<size_t>(m_SortColumn)].m_bAscending != 0;
}

void GridModel::ColumnsChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
    if (m_SortColumn >= 0) Reorder();  // the direction may have changed
}

// Ids are a table's own: those of the other tables are mixed with their tag.
uint64_t GridModel::IdOf(int tableRow) const {
    int ownRow = 0;
    const Source* source = SourceOf(tableRow, ownRow);
    const EntryObj* entry =
        source && source->m_pTable ? source->m_pTable->DisplayEntry(ownRow) : nullptr;
    if (!entry) return 0;
    if (source->m_Tag == 0) return entry->Id();
    const uint64_t mixed = entry->Id() ^ (source->m_Tag * 0x9E3779B97F4A7C15ull);
    return mixed != 0 ? mixed : 1;
}

int GridModel::CompareText(const std::string& left, const std::string& right) const {
    return m_Collator.Compare(left, right);
}

// The order of the last update when it still shows the same connections in
// the same table rows (the filter chose the same ones), else the rows chosen
// in the table's order.
std::vector<int> GridModel::StartingOrder(std::vector<int> chosen) const {
    bool same =
        !m_Sources.empty() && chosen.size() == m_Order.size() && m_Order.size() == m_Ids.size();
    if (same) {
        std::vector<char> isChosen(static_cast<size_t>(m_nTableRows) + 1, 0);
        for (int row : chosen) isChosen[static_cast<size_t>(row)] = 1;
        for (size_t i = 0; same && i < m_Order.size(); ++i) {
            const int row = m_Order[i];
            same = row >= 1 && row <= m_nTableRows && isChosen[static_cast<size_t>(row)] != 0 &&
                   m_Ids[i] != 0 && IdOf(row) == m_Ids[i];
        }
    }
    return same ? m_Order : chosen;
}

// The rows to sort, in the order to start from, with none of their keys yet.
SortKeys GridModel::KeysFor(std::vector<int> rows) const {
    SortKeys keys;
    keys.m_bAscending = SortAscending();
    keys.m_bText =
        m_SortColumn == ServerColumn || ColumnSpecOf(m_SortColumn).m_Kind != ColumnKind::Number;
    keys.m_Rows = StartingOrder(std::move(rows));
    (keys.m_bText ? keys.m_Texts.reserve(keys.m_Rows.size())
                  : keys.m_Numbers.reserve(keys.m_Rows.size()));
    return keys;
}

// The keys of up to `count` more rows; true once every row has its key.
bool GridModel::AddKeys(SortKeys& keys, size_t count) const {
    static const std::string none;
    const size_t from = keys.m_bText ? keys.m_Texts.size() : keys.m_Numbers.size();
    const size_t to = std::min(keys.m_Rows.size(), from + count);
    for (size_t i = from; i < to; ++i) {
        const int row = keys.m_Rows[i];
        if (m_SortColumn == ServerColumn) {
            int ownRow = 0;
            const Source* source = SourceOf(row, ownRow);
            keys.m_Texts.push_back(source ? ServerOf(*source) : none);
            continue;
        }
        const EntryObj* entry = EntryAt(row);
        if (keys.m_bText) {
            keys.m_Texts.push_back(entry ? entry->GetColumnText(m_SortColumn) : none);
        } else {
            keys.m_Numbers.push_back(entry ? entry->ColumnNumber(m_SortColumn) : 0);
        }
    }
    return to == keys.m_Rows.size();
}

// What the grid shows while the sorter works: the connections shown before
// in the places they had, then the others in the table's order.
std::vector<int> GridModel::OrderMeanwhile(const std::vector<int>& rows, bool others) const {
    if (rows == m_Order) return rows;
    std::unordered_map<uint64_t, size_t> placeOfId;
    placeOfId.reserve(m_Ids.size());
    for (size_t place = 0; place < m_Ids.size(); ++place) {
        if (m_Ids[place] != 0) placeOfId.emplace(m_Ids[place], place);
    }
    std::vector<int> atPlace(m_Ids.size(), 0);
    std::vector<int> rest;
    for (int row : rows) {
        auto found = placeOfId.find(IdOf(row));
        if (found != placeOfId.end()) {
            atPlace[found->second] = row;
        } else if (others) {
            rest.push_back(row);
        }
    }
    std::vector<int> order;
    order.reserve(rows.size());
    for (int row : atPlace) {
        if (row != 0) order.push_back(row);
    }
    order.insert(order.end(), rest.begin(), rest.end());
    return order;
}

// Every change of rows, filter or sort comes here. A filter or a sort of
// many rows takes its steps a turn at a time, the sort's on the sorter's
// thread; the newest one asked for is the one shown when it is done, and
// the grid shows the connections it showed before meanwhile.
void GridModel::Reorder(bool changed) {
    if (changed) ++m_Job;
    if (changed && StartIndexing()) {
        m_bReordering = true;
        ShowMeanwhile(OrderMeanwhile(AllRows(), false));
        IndexSome(m_Job);
        return;
    }
    std::vector<int> chosen = ChosenRows();
    if (m_SortColumn < 0 || m_Sources.empty()) {
        ShowOrder(std::move(chosen));
        Settled();
        return;
    }
    SortKeys keys = KeysFor(std::move(chosen));
    if (keys.m_Rows.size() < m_SorterRows) {
        AddKeys(keys, keys.m_Rows.size());
        SortByKeys(keys, m_Collator);
        ShowOrder(std::move(keys.m_Rows));
        Settled();
        return;
    }
    std::vector<int> meanwhile = OrderMeanwhile(keys.m_Rows);
    m_Taking = std::move(keys);
    m_bReordering = true;
    ShowMeanwhile(std::move(meanwhile));
    TakeKeys(m_Job);
}

// Copying 100,000 texts is a frame's work: the keys are taken a part per
// turn. Any change of the rows meanwhile starts another job, and this one
// stops.
void GridModel::TakeKeys(uint64_t job) {
    constexpr size_t KeysPerTurn = 25000;
    if (job != m_Job) return;
    if (!AddKeys(m_Taking, KeysPerTurn)) {
        QTimer::singleShot(0, this, [this, job] { TakeKeys(job); });
        return;
    }
    if (!m_pSorter) {
        m_pSorter = new RowSorter(this);
        connect(m_pSorter, &RowSorter::sorted, this, &GridModel::OnSorted);
    }
    m_pSorter->Start(job, std::move(m_Taking));
    m_Taking = SortKeys();
}

// A result is shown only while nothing has changed since its keys were taken.
void GridModel::OnSorted(uint64_t job, const std::vector<int>& rows) {
    if (job != m_Job) return;
    ShowOrder(rows);
    Settled();
}

// The same connections in the same rows need no new layout: only their
// texts may have changed.
void GridModel::ShowMeanwhile(std::vector<int> order) {
    if (order != m_Order) {
        ShowOrder(std::move(order));
    } else if (m_nRows > 0) {
        emit dataChanged(index(0, 0), index(m_nRows - 1, columnCount() - 1));
    }
}

void GridModel::Settled() {
    if (!m_bReordering) return;
    m_bReordering = false;
    emit reordered();
}

void GridModel::ShowOrder(std::vector<int> order) {
    const int rows = static_cast<int>(order.size());
    if (rows > m_nRows) {
        beginInsertRows(QModelIndex(), m_nRows, rows - 1);
        for (int row = m_nRows; row < rows; ++row) m_Order.push_back(row + 1);
        m_Ids.resize(static_cast<size_t>(rows), 0);
        m_nRows = rows;
        endInsertRows();
    }

    // Reorder within the (possibly larger) old count, carrying the view's
    // selection and current cell along with their connections. Rows at and
    // beyond the new count are removed afterwards.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<uint64_t> ids(static_cast<size_t>(m_nRows), 0);
    for (int row = 0; row < rows; ++row)
        ids[static_cast<size_t>(row)] = IdOf(order[static_cast<size_t>(row)]);
    for (int row = rows; row < m_nRows; ++row) order.push_back(row + 1);

    // Only the connections under the view's selection and current cell are
    // looked for in the new order: few, however many rows there are.
    const QModelIndexList from = persistentIndexList();
    if (!from.isEmpty()) {
        std::unordered_map<uint64_t, int> newRowOfId;
        for (const QModelIndex& index : from) {
            const size_t oldRow = static_cast<size_t>(index.row());
            if (oldRow < m_Ids.size() && m_Ids[oldRow] != 0) newRowOfId.emplace(m_Ids[oldRow], -1);
        }
        for (int row = 0; row < rows && !newRowOfId.empty(); ++row) {
            auto found = newRowOfId.find(ids[static_cast<size_t>(row)]);
            if (found != newRowOfId.end()) found->second = row;
        }
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& index : from) {
            const size_t oldRow = static_cast<size_t>(index.row());
            const uint64_t id = oldRow < m_Ids.size() ? m_Ids[oldRow] : 0;
            auto found = id != 0 ? newRowOfId.find(id) : newRowOfId.end();
            if (found != newRowOfId.end() && found->second >= 0) {
                to.append(createIndex(found->second, index.column()));
            } else if (oldRow < m_Ids.size() && id == 0 && static_cast<int>(oldRow) < rows) {
                to.append(index);  // a row that had no connection yet keeps its place
            } else {
                to.append(QModelIndex());  // its connection is gone
            }
        }
        changePersistentIndexList(from, to);
    }
    m_Order = std::move(order);
    m_Ids = std::move(ids);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);

    if (rows < m_nRows) {
        beginRemoveRows(QModelIndex(), rows, m_nRows - 1);
        m_Order.resize(static_cast<size_t>(rows));
        m_Ids.resize(static_cast<size_t>(rows));
        m_nRows = rows;
        endRemoveRows();
    }
    // Every text may have changed (durations do at every poll).
    if (m_nRows > 0) emit dataChanged(index(0, 0), index(m_nRows - 1, columnCount() - 1));
}
