#include "gui/grid/GroupModel.h"

#include <QTimer>
#include <algorithm>
#include <memory>
#include <numeric>

#include "core/table/EntryObj.h"
#include "core/view/TextOrder.h"
#include "gui/framework/MonitorText.h"
#include "gui/grid/LocaleNumbers.h"

GroupModel::GroupModel(QObject* parent) : QAbstractTableModel(parent) {}

void GroupModel::Rebuild(GroupBy by, const std::vector<const EntryObj*>& entries, int dataUnit,
                         const std::vector<std::string_view>& servers) {
    ConnectionGroups groups;
    groups.Build(by, entries, servers);
    Adopt(std::move(groups), dataUnit);
}

void GroupModel::Adopt(ConnectionGroups groups, int dataUnit) {
    beginResetModel();
    // The groups shown before go in the next turn: freeing 100,000 names is
    // a frame's work of its own.
    auto before = std::make_shared<ConnectionGroups>(std::move(m_Groups));
    if (before->Groups().size() > 1000) QTimer::singleShot(0, this, [before] {});
    m_Groups = std::move(groups);
    m_DataUnit = dataUnit;
    m_Order.resize(m_Groups.Groups().size());
    std::iota(m_Order.begin(), m_Order.end(), 0);
    ApplySort();
    endResetModel();
}

const ConnectionGroup* GroupModel::GroupAt(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= m_Order.size()) return nullptr;
    return &m_Groups.Groups()[static_cast<size_t>(m_Order[static_cast<size_t>(row)])];
}

int GroupModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_Order.size());
}

int GroupModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant GroupModel::data(const QModelIndex& index, int role) const {
    const ConnectionGroup* group = GroupAt(index.row());
    if (!group) return {};
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignVCenter |
                                   (index.column() == Name ? Qt::AlignLeft : Qt::AlignRight));
    }
    if (role != Qt::DisplayRole) return {};
    const ConnectionTotals& totals = group->m_Totals;
    std::string text;
    switch (index.column()) {
        case Name:
            return group->m_Name.empty() ? QStringLiteral("(none)") : MonitorText(group->m_Name);
        case Active:
            return QString::number(totals.m_Active);
        case Failed:
            return QString::number(totals.m_Failed);
        case BytesIn:
            EntryObj::FormatBytes(totals.m_BytesIn, m_DataUnit, text);
            break;
        case BytesOut:
            EntryObj::FormatBytes(totals.m_BytesOut, m_DataUnit, text);
            break;
        case BytesTotal:
            EntryObj::FormatBytes(totals.m_BytesIn + totals.m_BytesOut, m_DataUnit, text);
            break;
        case RateIn:
            EntryObj::FormatRate(totals.m_RateIn, m_DataUnit, text);
            break;
        case RateOut:
            EntryObj::FormatRate(totals.m_RateOut, m_DataUnit, text);
            break;
        default:
            return {};
    }
    const QString shown = MonitorText(text);
    return index.column() == RateIn || index.column() == RateOut ? LocaleNumbers::Grouped(shown)
                                                                 : shown;
}

QVariant GroupModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const Titles[] = {nullptr,       "Active",        "Failed",  "In Traffic",
                                         "Out Traffic", "Total Traffic", "In Rate", "Out Rate"};
    if (section == Name) return QString::fromLatin1(ConnectionGroups::Title(m_Groups.By()));
    if (section > Name && section < ColumnCount) return QString::fromLatin1(Titles[section]);
    return {};
}

void GroupModel::sort(int column, Qt::SortOrder order) {
    m_SortColumn = column;
    m_SortOrder = order;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    ApplySort();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void GroupModel::ApplySort() {
    if (m_SortColumn < 0 || m_SortColumn >= ColumnCount) return;
    const auto& groups = m_Groups.Groups();
    m_DecodedNames.clear();
    if (m_SortColumn == Name && !std::all_of(groups.begin(), groups.end(), [](const auto& group) {
            return IsAsciiText(group.m_Name);
        })) {
        m_DecodedNames.reserve(groups.size());
        for (const ConnectionGroup& group : groups)
            m_DecodedNames.push_back(MonitorText(group.m_Name));
    }
    if (m_SortColumn != Name) {
        SortByNumber();
        return;
    }
    std::stable_sort(m_Order.begin(), m_Order.end(), [this](int left, int right) {
        const bool less = NameLess(static_cast<size_t>(left), static_cast<size_t>(right));
        const bool greater = NameLess(static_cast<size_t>(right), static_cast<size_t>(left));
        return m_SortOrder == Qt::AscendingOrder ? less : greater;
    });
}

// 100,000 groups (one per client) sort by a number taken once from each,
// ties in the order they had, as a stable sort leaves them.
void GroupModel::SortByNumber() {
    struct Keyed {
        double m_Value;
        size_t m_Place;
        int m_Group;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(m_Order.size());
    for (int group : m_Order) {
        const double value =
            NumberOf(m_Groups.Groups()[static_cast<size_t>(group)].m_Totals, m_SortColumn);
        keyed.push_back({value, keyed.size(), group});
    }
    const bool ascending = m_SortOrder == Qt::AscendingOrder;
    std::sort(keyed.begin(), keyed.end(), [ascending](const Keyed& l, const Keyed& r) {
        if (l.m_Value != r.m_Value)
            return ascending ? l.m_Value < r.m_Value : l.m_Value > r.m_Value;
        return l.m_Place < r.m_Place;
    });
    for (size_t i = 0; i < keyed.size(); ++i) m_Order[i] = keyed[i].m_Group;
}

double GroupModel::NumberOf(const ConnectionTotals& totals, int column) {
    switch (column) {
        case Active:
            return double(totals.m_Active);
        case Failed:
            return double(totals.m_Failed);
        case BytesIn:
            return double(totals.m_BytesIn);
        case BytesOut:
            return double(totals.m_BytesOut);
        case BytesTotal:
            return double(totals.m_BytesIn + totals.m_BytesOut);
        case RateIn:
            return totals.m_RateIn;
        case RateOut:
            return totals.m_RateOut;
        default:
            return 0;
    }
}

bool GroupModel::NameLess(size_t leftGroup, size_t rightGroup) const {
    const ConnectionGroup& left = m_Groups.Groups()[leftGroup];
    const ConnectionGroup& right = m_Groups.Groups()[rightGroup];
    if (m_DecodedNames.empty()) return CompareAsciiText(left.m_Name, right.m_Name) < 0;
    return m_Collator.Compare(m_DecodedNames[leftGroup], m_DecodedNames[rightGroup]) < 0;
}
