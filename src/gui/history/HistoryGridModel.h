#pragma once
// The History grid's rows: the finished connections of a range, virtual. It
// knows their number and holds only the pages of rows that were looked at;
// a row not yet here shows empty while its page is read on the query thread.

#include <QAbstractTableModel>
#include <QStringList>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "core/history/HistoryQuery.h"

class HistoryQueryRunner;

class HistoryGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int PageRows = 200;

    HistoryGridModel(HistoryQueryRunner& runner, QObject* parent = nullptr);

    // A new range, server choice or filter: counts again and reads the first page.
    void SetRange(const HistoryRange& range);
    const HistoryRange& Range() const { return m_Range; }
    int SortColumn() const { return m_SortColumn; }
    bool IsAscending() const { return m_bAscending; }
    int64_t Count() const { return m_Count; }
    // The row if its page is here; null otherwise (and the page is asked for).
    const HistoryConnection* Row(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    static QStringList Titles();
    static QString CellText(const HistoryConnection& connection, int column);
    // A user's name, or "(no user)" for a connection that gave none, so that
    // its row is not taken for an empty one.
    static QString UserText(const std::string& user);

signals:
    void queryStarted();
    void queryFinished(const QString& error);  // empty when it went well
    void countChanged(qint64 count);

private:
    void Reload();
    void RequestPage(int page) const;
    void TakeCount(int generation, int64_t count, const QString& error);
    void TakePage(int generation, int page, std::vector<HistoryConnection> rows);

    HistoryQueryRunner& m_Runner;
    HistoryRange m_Range;
    int m_SortColumn = HistoryQuery::ColEnd;
    bool m_bAscending = false;  // newest first
    int m_Generation = 0;
    int64_t m_Count = 0;
    std::map<int, std::vector<HistoryConnection>> m_Pages;
    mutable std::set<int> m_Requested;
};
