#pragma once
// View > History: what the monitored servers did in a range of time. A range
// (last hour, 24 hours, 7 days, 30 days or from/to), the servers, a graph of
// traffic per service or per user in buckets that suit the range, the
// finished connections in a virtual grid with a filter, the totals per
// user, destination and service, CSV exports and a usage report per day or
// month. Every query runs on the query thread; one that takes longer than
// 100 ms shows a busy bar.

#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "core/history/HistoryQuery.h"

class GraphCtrl;
class HistoryGridModel;
class HistoryQueryRunner;
class QComboBox;
class QDateTimeEdit;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTimer;
class UsageDialog;

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    enum RangeChoice { LastHour, Last24Hours, Last7Days, Last30Days, Custom };
    // The graph keeps room for its titles, axes and legend and a plot still
    // to be read, and the grid for a few rows, however small the window.
    static constexpr int GraphMinimumHeight = 240;
    static constexpr int TabsMinimumHeight = 160;

    explicit HistoryWindow(const QString& path, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // Shows the program's one History window, made at first use as a
    // window of its own that closes with `owner`.
    static HistoryWindow* ShowWindow(QWidget* owner = nullptr);

    // Queries everything again for the range, servers and filter now chosen.
    void Apply();
    // The connections that ended from `from` up to `to` (seconds since 1970)
    // on one server (all when empty) and meeting a filter line, in the grid.
    // The range stays as given: the fit to the file does not undo it.
    void ShowConnections(int64_t from, int64_t to, const QString& server,
                         const QString& filterText);
    HistoryRange CurrentRange() const;

    // Exports to these files (the buttons ask for a name first); false when
    // the export cannot start. The result is told when it is done.
    void ExportGrid(const QString& fileName);
    void ExportTotals(const QString& fileName);
    // History > Usage: the usage per user and day or month of the range, servers and filter chosen.
    UsageDialog* OpenUsage();

    // Nothing in flight: every query answered.
    bool IsIdle() const { return m_Pending == 0; }

    QComboBox* RangeBox() const { return m_pRange; }
    QComboBox* ServerBox() const { return m_pServers; }
    QComboBox* GraphByBox() const { return m_pGraphBy; }
    QDateTimeEdit* FromEdit() const { return m_pFrom; }
    QDateTimeEdit* ToEdit() const { return m_pTo; }
    QLineEdit* FilterEdit() const { return m_pFilter; }
    GraphCtrl* Graph() const { return m_pGraph; }
    QTableView* Grid() const { return m_pGrid; }
    HistoryGridModel* GridModel() const { return m_pModel; }
    QTableWidget* TotalsTable(HistoryQuery::TotalsBy by) const { return m_pTotals[by]; }
    QTabWidget* Tabs() const { return m_pTabs; }
    QProgressBar* Busy() const { return m_pBusy; }
    const QString& StatusText() const { return m_StatusText; }
    // The choices above the graph take two rows in a narrow window.
    bool ChoicesWrapped() const { return m_bChoicesWrapped; }

signals:
    void idle();  // the last query in flight was answered

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildLayout();
    QWidget* BuildChoices();
    void ConnectChoices(QPushButton* refresh, QPushButton* settings);
    void WrapChoices();
    int OneRowWidth() const;
    void FitFirstSize();
    QWidget* BuildConnectionsTab();
    QWidget* BuildTotalsTab();
    void SizeGridColumns();
    void OnRangeChoice();
    void FitRangeToData();
    void ShowSpan(int64_t first, int64_t last);
    void LoadServers();
    void LoadGraph(const HistoryRange& range, bool byUser);
    void LoadTotals(const HistoryRange& range);
    void ShowGraph(const HistorySeries& series, bool byUser);
    void ShowGraphPoints(int first, int last, int subset);
    void ShowTotals(HistoryQuery::TotalsBy by, const std::vector<HistoryTotal>& totals);
    void Started();
    void Finished(const QString& error);
    void SetStatus(const QString& text);
    void AskExportGrid();
    void AskExportTotals();
    void OpenSettings();

    QString m_Path;
    std::unique_ptr<HistoryQueryRunner> m_pRunner;
    HistoryGridModel* m_pModel = nullptr;
    QComboBox* m_pRange = nullptr;
    QDateTimeEdit* m_pFrom = nullptr;
    QDateTimeEdit* m_pTo = nullptr;
    QComboBox* m_pServers = nullptr;
    QComboBox* m_pGraphBy = nullptr;
    QLineEdit* m_pFilter = nullptr;
    GraphCtrl* m_pGraph = nullptr;
    QTableView* m_pGrid = nullptr;
    QTableWidget* m_pTotals[3] = {};
    QTabWidget* m_pTabs = nullptr;
    QProgressBar* m_pBusy = nullptr;
    QLabel* m_pStatus = nullptr;
    QTimer* m_pBusyDelay = nullptr;
    QWidget* m_pChoicesBox = nullptr;
    QGridLayout* m_pChoices = nullptr;
    QHBoxLayout* m_pRangeRow = nullptr;  // range, from, to
    QHBoxLayout* m_pViewRow = nullptr;   // server, graph, buttons: beside it or under it
    bool m_bChoicesWrapped = false;
    QString m_StatusText;
    int m_Pending = 0;
    int m_Generation = 0;    // of the graph and totals; older answers are dropped
    int m_RangeChanges = 0;  // the user's own choices of range, which a fit must not undo
    bool m_bFitted = false;  // the range shown is the one fitted to the file
    HistorySeries m_Shown;   // the graph's buckets and names, without the values
    bool m_bShownByUser = false;
};
