#pragma once
// The grouped grid's model: one row per group of the connections the filter
// chose, with the group's name, active and failed connections, bytes and
// rates. Sortable by every column; a second sort by the same column reverses.

#include <QAbstractTableModel>
#include <QString>
#include <string_view>
#include <vector>

#include "core/view/ConnectionGroups.h"
#include "gui/grid/TextCollator.h"

class EntryObj;

class GroupModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Name,
        Active,
        Failed,
        BytesIn,
        BytesOut,
        BytesTotal,
        RateIn,
        RateOut,
        ColumnCount
    };

    explicit GroupModel(QObject* parent = nullptr);

    // Groups these connections, of these servers, anew; traffic in the data
    // unit of the table.
    void Rebuild(GroupBy by, const std::vector<const EntryObj*>& entries, int dataUnit,
                 const std::vector<std::string_view>& servers = {});
    // Groups built elsewhere (a part per turn), shown anew.
    void Adopt(ConnectionGroups groups, int dataUnit);
    const ConnectionGroups& Groups() const { return m_Groups; }
    // The group shown in this row.
    const ConnectionGroup* GroupAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    // Whether the group at this index goes before the other by name.
    bool NameLess(size_t leftGroup, size_t rightGroup) const;
    // The value a column other than the name shows of these totals.
    static double NumberOf(const ConnectionTotals& totals, int column);
    void ApplySort();
    void SortByNumber();

    ConnectionGroups m_Groups;
    std::vector<int> m_Order;  // grid row -> group
    int m_DataUnit = 0;
    int m_SortColumn = -1;
    Qt::SortOrder m_SortOrder = Qt::AscendingOrder;
    TextCollator m_Collator;
    // The groups' names decoded, when one of them is beyond ASCII: a sort
    // compares all names in one way, so that its order is one order.
    std::vector<QString> m_DecodedNames;
};
