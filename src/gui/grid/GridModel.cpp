#include "gui/grid/GridModel.h"

#include <QStringDecoder>
#include <algorithm>
#include <ctime>
#include <numeric>
#include <unordered_map>

#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"

namespace {

enum : int {
    ColStartTime = 4,
    ColDuration = 5,
    ColInTraffic = 6,
    ColOutTraffic = 7,
    ColTotalTraffic = 8,
};

template <class T>
int Compare(T left, T right) {
    return left < right ? -1 : (right < left ? 1 : 0);
}

}  // namespace

GridModel::GridModel(const ColumnInfoArray& columns, QObject* parent)
    : QAbstractTableModel(parent), m_Columns(columns) {
    // Addresses and other texts with numbers in them order as a reader
    // expects: 10.0.0.9 before 10.0.0.10.
    m_Collator.setNumericMode(true);
    m_Collator.setCaseSensitivity(Qt::CaseInsensitive);
}

void GridModel::SetTable(const PMCTable* table) {
    if (table == m_pTable) return;
    beginResetModel();
    m_pTable = table;
    m_nRows = 0;
    m_TableRows = 0;
    m_bIndexStale = true;
    m_Order.clear();
    m_Keys.clear();
    endResetModel();
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_nRows;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : g_nColumns;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !m_pTable) return {};
    if (role == Qt::DisplayRole) {
        return MonitorText(m_pTable->GetCellText(TableRow(index.row()), index.column()));
    }
    if (role == Qt::TextAlignmentRole) {
        const int column = index.column();
        const bool numeric = column >= ColDuration && column <= ColTotalTraffic;
        return QVariant::fromValue(Qt::AlignVCenter | (numeric ? Qt::AlignRight : Qt::AlignLeft));
    }
    return {};
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
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
    m_bIndexStale = true;
    Reorder(std::max(rows, 0));
}

bool GridModel::SetFilter(const std::string& text) {
    const bool valid = m_Filter.SetText(text);
    Reorder(m_TableRows);
    return valid;
}

std::vector<const EntryObj*> GridModel::ShownEntries() const {
    std::vector<const EntryObj*> entries;
    if (!m_pTable) return entries;
    entries.reserve(m_Order.size());
    for (int tableRow : m_Order) {
        if (const EntryObj* entry = m_pTable->DisplayEntry(tableRow)) entries.push_back(entry);
    }
    return entries;
}

// The table rows (from 1) the filter keeps, in the table's order. The index
// is folded once per poll; each keystroke only searches it.
std::vector<int> GridModel::ChosenRows(int rows) {
    std::vector<int> chosen;
    if (m_Filter.KeepsAll() || !m_pTable) {
        chosen.resize(static_cast<size_t>(rows));
        std::iota(chosen.begin(), chosen.end(), 1);
        return chosen;
    }
    if (m_bIndexStale) {
        std::vector<const EntryObj*> entries;
        entries.reserve(static_cast<size_t>(rows));
        for (int row = 1; row <= rows; ++row) {
            if (const EntryObj* entry = m_pTable->DisplayEntry(row)) entries.push_back(entry);
        }
        m_Index.Build(entries);
        m_bIndexStale = false;
    }
    chosen.reserve(m_Index.Size());
    for (size_t row : m_Filter.Select(m_Index)) chosen.push_back(static_cast<int>(row) + 1);
    return chosen;
}

void GridModel::SortBy(int column) {
    m_SortColumn = column >= 0 && column < g_nColumns ? column : -1;
    Reorder(m_TableRows);
}

void GridModel::ColumnsChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, g_nColumns - 1);
    if (m_SortColumn >= 0) Reorder(m_TableRows);  // the direction may have changed
}

QString GridModel::MonitorText(const std::string& bytes) {
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(view);
    return utf8.hasError() ? QString::fromLatin1(view) : text;
}

std::string GridModel::KeyOf(int tableRow) const {
    const EntryObj* entry = m_pTable ? m_pTable->DisplayEntry(tableRow) : nullptr;
    return entry ? entry->m_Key : std::string();
}

bool GridModel::Less(int leftRow, int rightRow, int column) const {
    const EntryObj* left = m_pTable->DisplayEntry(leftRow);
    const EntryObj* right = m_pTable->DisplayEntry(rightRow);
    if (!left || !right) return left && !right;  // rows past the list go last
    int order = 0;
    switch (column) {
        case ColStartTime:
            order = Compare(left->m_StartTime, right->m_StartTime);
            break;
        case ColDuration: {
            // The duration shown is the span up to now, and "0" for a start
            // in the future.
            const int64_t now = static_cast<int64_t>(std::time(nullptr));
            order = Compare(std::max<int64_t>(now - left->m_StartTime, 0),
                            std::max<int64_t>(now - right->m_StartTime, 0));
            break;
        }
        case ColInTraffic:
            order = Compare(left->m_TotalIn, right->m_TotalIn);
            break;
        case ColOutTraffic:
            order = Compare(left->m_TotalOut, right->m_TotalOut);
            break;
        case ColTotalTraffic:
            order = Compare(left->m_LastTotal, right->m_LastTotal);
            break;
        default:
            order = m_Collator.compare(MonitorText(left->GetColumnText(column)),
                                       MonitorText(right->GetColumnText(column)));
            break;
    }
    const bool ascending = static_cast<size_t>(column) < m_Columns.size() &&
                           m_Columns[static_cast<size_t>(column)].m_bAscending != 0;
    return ascending ? order < 0 : order > 0;
}

std::vector<int> GridModel::BuildOrder(std::vector<int> order) const {
    if (m_SortColumn >= 0 && m_pTable) {
        // Stable: rows that compare equal keep the table's order.
        std::stable_sort(order.begin(), order.end(),
                         [this](int left, int right) { return Less(left, right, m_SortColumn); });
    }
    return order;
}

void GridModel::Reorder(int tableRows) {
    m_TableRows = tableRows;
    std::vector<int> order = BuildOrder(ChosenRows(tableRows));
    const int rows = static_cast<int>(order.size());
    if (rows > m_nRows) {
        beginInsertRows(QModelIndex(), m_nRows, rows - 1);
        for (int row = m_nRows; row < rows; ++row) {
            m_Order.push_back(row + 1);
            m_Keys.emplace_back();
        }
        m_nRows = rows;
        endInsertRows();
    }

    // Reorder within the (possibly larger) old count, carrying the view's
    // selection and current cell along with their connections. Rows at and
    // beyond the new count are removed afterwards.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(m_nRows));
    std::unordered_map<std::string, int> newRowOfKey;
    for (int row = 0; row < rows; ++row) {
        keys.push_back(KeyOf(order[static_cast<size_t>(row)]));
    }
    const QModelIndexList from = persistentIndexList();
    // Only a selection or a current cell needs the rows found again by their connection.
    if (!from.isEmpty()) {
        for (int row = 0; row < rows; ++row) {
            const std::string& key = keys[static_cast<size_t>(row)];
            if (!key.empty()) newRowOfKey.emplace(key, row);
        }
    }
    for (int row = rows; row < m_nRows; ++row) {
        order.push_back(row + 1);
        keys.emplace_back();
    }
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from) {
        const size_t oldRow = static_cast<size_t>(index.row());
        const std::string* key = oldRow < m_Keys.size() ? &m_Keys[oldRow] : nullptr;
        auto found = key && !key->empty() ? newRowOfKey.find(*key) : newRowOfKey.end();
        if (found != newRowOfKey.end()) {
            to.append(createIndex(found->second, index.column()));
        } else if (key && key->empty() && static_cast<int>(oldRow) < rows) {
            to.append(index);  // a row that had no connection yet keeps its place
        } else {
            to.append(QModelIndex());  // its connection is gone
        }
    }
    changePersistentIndexList(from, to);
    m_Order = std::move(order);
    m_Keys = std::move(keys);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);

    if (rows < m_nRows) {
        beginRemoveRows(QModelIndex(), rows, m_nRows - 1);
        m_Order.resize(static_cast<size_t>(rows));
        m_Keys.resize(static_cast<size_t>(rows));
        m_nRows = rows;
        endRemoveRows();
    }
    // Every text may have changed (durations do at every poll).
    if (m_nRows > 0) emit dataChanged(index(0, 0), index(m_nRows - 1, g_nColumns - 1));
}
