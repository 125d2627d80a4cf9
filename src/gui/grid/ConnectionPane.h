#pragma once
// The grid's pane of a session window: the filter line above the grid, the
// count of the rows it keeps, the grid itself or, when the session groups
// its connections, the grouped grid in its place, and the totals of what is
// shown underneath. The filter and the grouping are the session's; every
// pane of the session follows them. A pane of no session (the grid of all
// servers) keeps its own, and can give the totals of each server as well.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "core/view/ConnectionGroups.h"
#include "core/view/ExportSheet.h"
#include "gui/session/BatchHold.h"

class CVGLDoc;
class EntryObj;
struct ConnectionTotals;
class GridView;
class GroupModel;
class QAbstractItemView;
class QLabel;
class QLineEdit;
class QStackedWidget;
class QTableView;

class ConnectionPane : public QWidget {
    Q_OBJECT
public:
    explicit ConnectionPane(GridView* grid, QWidget* parent = nullptr);

    void SetDocument(CVGLDoc* document);
    void FocusFilter();
    // The session's grouping, or the pane's own while it has no session.
    GroupBy Grouping() const { return m_Grouping; }
    void SetGrouping(GroupBy by);
    // While grouped, the totals strip has a line for each server too.
    void SetTotalsPerServer(bool perServer);
    // The count, the groups and the totals again, for the rows now shown.
    void Refresh();
    // The grid on show (the connections or the groups), for the keyboard focus.
    QWidget* ShownGrid() const;

    GridView* Grid() const { return m_pGrid; }
    QTableView* GroupView() const { return m_pGroupView; }
    GroupModel* Groups() const { return m_pGroupModel; }
    QLineEdit* FilterEdit() const { return m_pFilterEdit; }
    QLabel* FilterError() const { return m_pFilterError; }
    QLabel* CountLabel() const { return m_pCount; }
    QLabel* TotalsLabel() const { return m_pTotals; }

    // The rows on show, in their order, with the columns shown.
    ExportSheet SheetOnShow() const;
    // Asks for a file name and exports; a failure is told in a message box.
    void OnExport();
    // Exports off the UI thread: a session's rows are taken a slice per turn,
    // then written on a thread of their own while its progress and Cancel
    // show in the status line. False with a message when the name is neither
    // .csv nor .json, or an export of this grid is still running. done is
    // told once: true when the file is complete, else error says why (empty
    // when cancelled).
    using ExportDone = std::function<void(bool done, const QString& error)>;
    bool StartExport(const QString& fileName, QString& error, ExportDone done);
    // The export on its way, if any (its rows may still be being taken).
    bool IsExporting() const { return m_bExporting; }
    void CancelExport();
    // While the count, the totals or the groups of many connections are
    // still being made (the groups a part per turn); the pane shows what it
    // showed before meanwhile.
    bool IsRefreshing() const { return m_bRefreshPending || m_bGroupsPending; }
    // From this many connections on, filters, sorts and groups take their
    // steps a part per turn.
    void SetPartsFrom(size_t connections);
    // The connections of the chosen rows, or of the chosen groups while grouped.
    std::vector<const EntryObj*> ChosenEntries() const;

signals:
    // The pane's own grouping changed (a group was opened with a double click).
    void groupingChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplyViewChoice();
    void Apply(const QString& text, GroupBy by);
    int DataUnit() const;
    void ShowTotals(const ConnectionTotals& totals, const ConnectionGroups* perServer);
    void AddServerColumn(ExportSheet& sheet) const;
    void RefreshNow();
    void GroupInParts(std::vector<const EntryObj*> entries);
    void GroupSome(uint64_t job);
    void ShowGroups(uint64_t job);
    ConnectionTotals GroupTotals() const;
    void WriteExport(ExportSheet sheet, const QString& fileName, bool json, ExportDone done);
    void OnGroupActivated(int row);
    void ShowActions(QAbstractItemView* view, const QPoint& at);

    QPointer<CVGLDoc> m_pDocument;
    GridView* m_pGrid = nullptr;
    QLineEdit* m_pFilterEdit = nullptr;
    QLabel* m_pFilterError = nullptr;
    QLabel* m_pCount = nullptr;
    QStackedWidget* m_pStack = nullptr;
    QTableView* m_pGroupView = nullptr;
    GroupModel* m_pGroupModel = nullptr;
    QLabel* m_pTotals = nullptr;
    GroupBy m_Grouping = GroupBy::Connection;
    bool m_bTotalsPerServer = false;
    bool m_bExporting = false;
    ConnectionGroups m_Building;      // the groups being built a part per turn
    BatchHold m_GroupsHold;           // the session, whose batches wait meanwhile
    uint64_t m_GroupJob = 0;
    bool m_bGroupsPending = false;
    bool m_bRefreshPending = false;
    size_t m_nPartsFrom = 5000;
    uint64_t m_GroupListVersion = 0;  // the table's display list the groups are built of
    QPointer<QObject> m_pExportStep;  // the rows' taking, then the writing
};
