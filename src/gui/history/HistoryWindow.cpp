#include "gui/history/HistoryWindow.h"
#include "gui/framework/BusyBar.h"

#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <ctime>
#include <fstream>
#include <memory>

#include "core/history/HistoryCsv.h"
#include "core/view/FilterLine.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/FirstSize.h"
#include "gui/framework/MonitorText.h"
#include "gui/graph/GraphCtrl.h"
#include "gui/history/HistoryGridModel.h"
#include "gui/history/HistoryOptionsDlg.h"
#include "gui/history/HistoryQueryRunner.h"
#include "gui/history/HistoryService.h"
#include "gui/history/UsageDialog.h"

namespace {

constexpr int BusyDelayMs = 100;
constexpr int64_t ExportPageRows = 5000;
const char* const TotalsKinds[] = {"user", "destination", "service"};

QString BucketText(int64_t seconds) {
    if (seconds % 86400 == 0)
        return seconds == 86400 ? QStringLiteral("day")
                                : QStringLiteral("%1 days").arg(seconds / 86400);
    if (seconds % 3600 == 0)
        return seconds == 3600 ? QStringLiteral("hour")
                               : QStringLiteral("%1 hours").arg(seconds / 3600);
    return seconds == 60 ? QStringLiteral("minute")
                         : QStringLiteral("%1 minutes").arg(seconds / 60);
}

QString PointLabel(int64_t start, int64_t bucket) {
    const QDateTime when = QDateTime::fromSecsSinceEpoch(start);
    if (bucket >= 86400) return when.toString(QStringLiteral("MM-dd"));
    if (bucket >= 3600) return when.toString(QStringLiteral("dd HH:mm"));
    return when.toString(QStringLiteral("HH:mm"));
}

QString Bytes(uint64_t bytes) {
    return QString::number(bytes);
}

// A user of one of several servers is told apart by the server's name.
QString UserOnServer(const std::string& user, const std::string& server) {
    const QString name = HistoryGridModel::UserText(user);
    return server.empty() ? name : name + QStringLiteral(" @ ") + MonitorText(server);
}

HistoryWindow* g_pWindow = nullptr;

}  // namespace

HistoryWindow::HistoryWindow(const QString& path, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_Path(path),
      m_pRunner(std::make_unique<HistoryQueryRunner>(path)) {
    setWindowTitle(QStringLiteral("History"));
    m_pModel = new HistoryGridModel(*m_pRunner, this);
    m_pBusyDelay = new QTimer(this);
    m_pBusyDelay->setSingleShot(true);
    m_pBusyDelay->setInterval(BusyDelayMs);
    connect(m_pBusyDelay, &QTimer::timeout, this, [this] {
        if (m_Pending > 0) m_pBusy->show();
    });
    connect(m_pModel, &HistoryGridModel::queryStarted, this, &HistoryWindow::Started);
    connect(m_pModel, &HistoryGridModel::queryFinished, this, &HistoryWindow::Finished);
    BuildLayout();
    connect(m_pModel, &HistoryGridModel::countChanged, this, [this](qint64 count) {
        m_pTabs->setTabText(0, QStringLiteral("Connections (%1)").arg(count));
    });
    FitFirstSize();
    FitRangeToData();
}

HistoryWindow::~HistoryWindow() {
    // The query thread ends first: nothing it does may reach a part of this window that is gone.
    m_pRunner.reset();
    if (g_pWindow == this) g_pWindow = nullptr;
}

HistoryWindow* HistoryWindow::ShowWindow(QWidget* owner) {
    if (g_pWindow == nullptr) {
        g_pWindow = new HistoryWindow(HistoryService::Instance().Path(), owner);
        g_pWindow->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        g_pWindow->Apply();
    }
    g_pWindow->show();
    g_pWindow->raise();
    g_pWindow->activateWindow();
    return g_pWindow;
}

// 1000 by 720, or wide enough for one row of choices, where that fits the
// screen's available area; where it does not (a small screen, or a large
// scale factor) the window opens maximised, as the main window does, its
// normal size fitted inside that area.
void HistoryWindow::FitFirstSize() {
    GWFitFirstSize(*this, QSize(std::max(1000, OneRowWidth()), 720), minimumSizeHint());
}

// The window's width for all the choices side by side at their natural widths.
int HistoryWindow::OneRowWidth() const {
    const QMargins margins = layout()->contentsMargins();
    return margins.left() + m_pRangeRow->sizeHint().width() + m_pChoices->horizontalSpacing() +
           m_pViewRow->sizeHint().width() + margins.right();
}

void HistoryWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    WrapChoices();
}

// The second half of the choices goes under the first when both do not fit
// side by side at their natural widths.
void HistoryWindow::WrapChoices() {
    const bool wrap = width() < OneRowWidth();
    if (wrap == m_bChoicesWrapped) return;
    m_bChoicesWrapped = wrap;
    m_pChoices->removeItem(m_pViewRow);
    m_pChoices->addLayout(m_pViewRow, wrap ? 1 : 0, wrap ? 0 : 1);
}

void HistoryWindow::BuildLayout() {
    QWidget* top = BuildChoices();
    m_pGraph = new GraphCtrl(this);
    m_pGraph->setMinimumHeight(GraphMinimumHeight);
    m_pGraph->SetBackgroundColor(palette().color(QPalette::Window));
    m_pGraph->SetGridLines(GraphCtrl::GridBoth);
    m_pGraph->SetXAxisLabel(QStringLiteral("Time"));
    m_pGraph->SetYAxisLabel(QStringLiteral("Bytes"));
    m_pGraph->setToolTip(QStringLiteral(
        "Click a point to see its connections, or drag across a span to see all of its"));
    connect(m_pGraph, &GraphCtrl::pointsChosen, this, &HistoryWindow::ShowGraphPoints);

    QWidget* connections = BuildConnectionsTab();
    QWidget* totals = BuildTotalsTab();
    m_pTabs = new QTabWidget(this);
    m_pTabs->addTab(connections, QStringLiteral("Connections"));
    m_pTabs->addTab(totals, QStringLiteral("Totals"));

    m_pTabs->setMinimumHeight(TabsMinimumHeight);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(m_pGraph);
    splitter->addWidget(m_pTabs);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);

    m_pBusy = NewBusyBar(this);
    m_pStatus = new QLabel(this);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pStatus, 1);
    bottom->addWidget(m_pBusy);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(top);
    layout->addWidget(splitter, 1);
    layout->addLayout(bottom);
    LoadServers();
}

// The row of choices above the graph: range, server, what the graph shows.
// It may be narrower than one row of them (WrapChoices then makes two).
QWidget* HistoryWindow::BuildChoices() {
    m_pRange = new QComboBox(this);
    m_pRange->addItems({QStringLiteral("Last hour"), QStringLiteral("Last 24 hours"),
                        QStringLiteral("Last 7 days"), QStringLiteral("Last 30 days"),
                        QStringLiteral("Custom")});
    m_pRange->setCurrentIndex(Last24Hours);
    m_pFrom = new QDateTimeEdit(this);
    m_pTo = new QDateTimeEdit(this);
    for (QDateTimeEdit* edit : {m_pFrom, m_pTo}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    }
    m_pServers = new QComboBox(this);
    m_pServers->addItem(QStringLiteral("All servers"));
    m_pServers->setMinimumContentsLength(16);
    m_pGraphBy = new QComboBox(this);
    m_pGraphBy->addItems({QStringLiteral("By service"), QStringLiteral("By user")});
    auto* refresh = new QPushButton(QStringLiteral("&Refresh"), this);
    auto* settings = new QPushButton(QStringLiteral("&Settings..."), this);
    auto* usage = new QPushButton(QStringLiteral("&Usage..."), this);
    connect(usage, &QPushButton::clicked, this, [this] { OpenUsage(); });

    m_pChoicesBox = new QWidget(this);
    m_pRangeRow = new QHBoxLayout;
    m_pRangeRow->addWidget(new QLabel(QStringLiteral("Range:"), this));
    m_pRangeRow->addWidget(m_pRange);
    m_pRangeRow->addWidget(new QLabel(QStringLiteral("From:"), this));
    m_pRangeRow->addWidget(m_pFrom);
    m_pRangeRow->addWidget(new QLabel(QStringLiteral("To:"), this));
    m_pRangeRow->addWidget(m_pTo);
    m_pViewRow = new QHBoxLayout;
    m_pViewRow->addWidget(new QLabel(QStringLiteral("Server:"), this));
    m_pViewRow->addWidget(m_pServers, 1);
    m_pViewRow->addWidget(new QLabel(QStringLiteral("Graph:"), this));
    m_pViewRow->addWidget(m_pGraphBy);
    m_pViewRow->addWidget(refresh);
    m_pViewRow->addWidget(usage);
    m_pViewRow->addWidget(settings);
    m_pChoices = new QGridLayout(m_pChoicesBox);
    m_pChoices->setContentsMargins(0, 0, 0, 0);
    m_pChoices->addLayout(m_pRangeRow, 0, 0);
    m_pChoices->addLayout(m_pViewRow, 0, 1);
    m_pChoices->setColumnStretch(1, 1);
    m_pChoicesBox->setMinimumWidth(
        std::max(m_pRangeRow->minimumSize().width(), m_pViewRow->minimumSize().width()));
    ConnectChoices(refresh, settings);
    return m_pChoicesBox;
}

void HistoryWindow::ConnectChoices(QPushButton* refresh, QPushButton* settings) {
    auto chosen = [this] {
        ++m_RangeChanges;
        m_bFitted = false;
    };
    connect(m_pRange, &QComboBox::currentIndexChanged, this, [this, chosen] {
        chosen();
        OnRangeChoice();
    });
    connect(m_pServers, &QComboBox::activated, this, [this] { Apply(); });
    connect(m_pGraphBy, &QComboBox::activated, this, [this] { Apply(); });
    for (QDateTimeEdit* edit : {m_pFrom, m_pTo}) {
        connect(edit, &QDateTimeEdit::editingFinished, this, [this, chosen] {
            chosen();
            Apply();
        });
    }
    connect(refresh, &QPushButton::clicked, this, [this] {
        LoadServers();
        m_bFitted ? FitRangeToData() : OnRangeChoice();
    });
    connect(settings, &QPushButton::clicked, this, [this] { OpenSettings(); });
}

// Connections: the filter, the grid and its export.
QWidget* HistoryWindow::BuildConnectionsTab() {
    auto* connections = new QWidget(this);
    m_pFilter = new QLineEdit(connections);
    m_pFilter->setPlaceholderText(
        QStringLiteral("words, user:NAME dest:HOST src: service: auth: result: server:, "
                       "-term to leave out, user:=NAME exactly; Enter applies"));
    m_pFilter->setClearButtonEnabled(true);
    auto* exportGrid = new QPushButton(QStringLiteral("Export &Grid..."), connections);
    m_pGrid = new QTableView(connections);
    m_pGrid->setModel(m_pModel);
    m_pGrid->setSortingEnabled(true);
    m_pGrid->horizontalHeader()->setSortIndicator(HistoryQuery::ColEnd, Qt::DescendingOrder);
    m_pGrid->verticalHeader()->hide();
    m_pGrid->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_pGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pGrid->setWordWrap(false);
    SizeGridColumns();
    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(new QLabel(QStringLiteral("Filter:"), connections));
    filterRow->addWidget(m_pFilter, 1);
    filterRow->addWidget(exportGrid);
    auto* connectionsLayout = new QVBoxLayout(connections);
    connectionsLayout->setContentsMargins(0, 4, 0, 0);
    connectionsLayout->addLayout(filterRow);
    connectionsLayout->addWidget(m_pGrid, 1);
    connect(m_pFilter, &QLineEdit::returnPressed, this, [this] { Apply(); });
    connect(exportGrid, &QPushButton::clicked, this, [this] { AskExportGrid(); });
    return connections;
}

// Wide enough for what the columns usually hold.
void HistoryWindow::SizeGridColumns() {
    const char* const samples[] = {"2026-12-31 23:59:59", "proxy.example",   "username",
                                   "192.168.100.100",     "www.example.com", "telnet",
                                   "2026-12-31 23:59:59", "0:00:00:00",      "1234567890",
                                   "1234567890",          "1234567890",      "Failed (5) refused",
                                   "Username/Password",   "next.example"};
    for (int column = 0; column < HistoryQuery::ColumnCount; ++column) {
        m_pGrid->setColumnWidth(
            column, fontMetrics().horizontalAdvance(QString::fromLatin1(samples[column])) + 18);
    }
}

// Totals: per user, destination and service side by side.
QWidget* HistoryWindow::BuildTotalsTab() {
    auto* totals = new QWidget(this);
    auto* totalsLayout = new QGridLayout(totals);
    totalsLayout->setContentsMargins(0, 4, 0, 0);
    const QString titles[] = {QStringLiteral("User"), QStringLiteral("Destination"),
                              QStringLiteral("Service")};
    for (int by = 0; by < 3; ++by) {
        auto* table = new QTableWidget(0, 4, totals);
        table->setHorizontalHeaderLabels({titles[by], QStringLiteral("Connections"),
                                          QStringLiteral("In"), QStringLiteral("Out")});
        table->verticalHeader()->hide();
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
        table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
        m_pTotals[by] = table;
        totalsLayout->addWidget(table, 0, by);
    }
    auto* exportTotals = new QPushButton(QStringLiteral("Export &Totals..."), totals);
    totalsLayout->addWidget(exportTotals, 1, 2, Qt::AlignRight);
    connect(exportTotals, &QPushButton::clicked, this, [this] { AskExportTotals(); });
    return totals;
}

// A preset range ends now; the custom one is what the two fields say.
void HistoryWindow::OnRangeChoice() {
    const int choice = m_pRange->currentIndex();
    const bool custom = choice == Custom;
    m_pFrom->setEnabled(custom);
    m_pTo->setEnabled(custom);
    if (!custom) {
        static const int64_t spans[] = {3600, 86400, 7 * 86400, 30 * 86400};
        const QDateTime now = QDateTime::currentDateTime();
        m_pTo->setDateTime(now);
        m_pFrom->setDateTime(now.addSecs(-spans[choice]));
    }
    Apply();
}

// The window opens on all that was recorded, however old or new: from the
// oldest record's minute to the minute after the newest. A file without
// records opens on the last 24 hours; a range the user chose meanwhile stays.
void HistoryWindow::FitRangeToData() {
    Started();
    const int changes = m_RangeChanges;
    m_pRunner->Run([this, changes](HistoryQuery& query) {
        int64_t first = 0;
        int64_t last = 0;
        bool known = false;
        QString error;
        try {
            known = query.IsOpen() && query.Span(first, last);
        } catch (const std::exception& failure) {
            error = QString::fromStdString(failure.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, changes, known, first, last, error] {
                if (changes == m_RangeChanges) {
                    if (known) ShowSpan(first, last);
                    OnRangeChoice();
                }
                Finished(error);
            },
            Qt::QueuedConnection);
    });
}

void HistoryWindow::ShowSpan(int64_t first, int64_t last) {
    {
        const QSignalBlocker quiet(m_pRange);
        m_pRange->setCurrentIndex(Custom);
    }
    m_pFrom->setDateTime(QDateTime::fromSecsSinceEpoch(first - first % 60));
    m_pTo->setDateTime(QDateTime::fromSecsSinceEpoch(last - last % 60 + 60));
    m_bFitted = true;
}

HistoryRange HistoryWindow::CurrentRange() const {
    HistoryRange range;
    if (m_pRange->currentIndex() == Custom) {
        range.m_From = m_pFrom->dateTime().toSecsSinceEpoch();
        range.m_To = m_pTo->dateTime().toSecsSinceEpoch();
    } else {
        static const int64_t spans[] = {3600, 86400, 7 * 86400, 30 * 86400};
        range.m_To = static_cast<int64_t>(std::time(nullptr)) + 1;
        range.m_From = range.m_To - spans[m_pRange->currentIndex()];
    }
    if (m_pServers->currentIndex() > 0)
        range.m_Servers.push_back(m_pServers->currentText().toStdString());
    range.m_Filter = HistoryFilter::Parse(m_pFilter->text().toStdString());
    return range;
}

void HistoryWindow::Apply() {
    const HistoryRange range = CurrentRange();
    if (range.m_To <= range.m_From) {
        SetStatus(QStringLiteral("The range ends before it begins."));
        return;
    }
    ++m_Generation;
    SetStatus(range.m_Filter.m_Error.empty()
                  ? QString()
                  : QStringLiteral("The filter is not used: %1.")
                        .arg(QString::fromStdString(range.m_Filter.m_Error)));
    m_pModel->SetRange(range);
    LoadGraph(range, m_pGraphBy->currentIndex() == 1);
    LoadTotals(range);
}

void HistoryWindow::ShowConnections(int64_t from, int64_t to, const QString& server,
                                    const QString& filterText) {
    ++m_RangeChanges;
    m_bFitted = false;
    {
        const QSignalBlocker quiet(m_pRange);
        m_pRange->setCurrentIndex(Custom);
    }
    m_pFrom->setEnabled(true);
    m_pTo->setEnabled(true);
    m_pFrom->setDateTime(QDateTime::fromSecsSinceEpoch(from));
    m_pTo->setDateTime(QDateTime::fromSecsSinceEpoch(to));
    int chosen = 0;
    if (!server.isEmpty()) {
        chosen = m_pServers->findText(server);
        if (chosen < 0) {
            m_pServers->addItem(server);
            chosen = m_pServers->count() - 1;
        }
    }
    m_pServers->setCurrentIndex(chosen);
    // Typed over rather than set, so that Undo brings back the filter that was there.
    m_pFilter->selectAll();
    m_pFilter->insert(filterText);
    m_pTabs->setCurrentIndex(0);
    Apply();
    // An empty grid would otherwise look like a time without connections.
    if (!HistoryService::Instance().IsEnabled()) {
        SetStatus(QStringLiteral(
            "History is not being recorded (Settings...): what happened since it was switched "
            "off is not here."));
    }
}

// A point of the graph is a bucket of one service's or one user's traffic:
// its connections are those that ended in the bucket, of that service or
// user; a span is every connection of its buckets.
void HistoryWindow::ShowGraphPoints(int first, int last, int subset) {
    const std::vector<int64_t>& starts = m_Shown.m_BucketStarts;
    if (m_Shown.m_BucketSeconds <= 0 || first < 0 || last >= int(starts.size()) || first > last)
        return;
    QString filter;
    if (subset >= 0 && subset < int(m_Shown.m_Names.size())) {
        filter = MonitorText(FilterLine::ExactTerm(m_bShownByUser ? "user" : "service",
                                                   m_Shown.m_Names[size_t(subset)]));
    }
    const QString server = m_pServers->currentIndex() > 0 ? m_pServers->currentText() : QString();
    ShowConnections(starts[size_t(first)], starts[size_t(last)] + m_Shown.m_BucketSeconds, server,
                    filter);
}

void HistoryWindow::LoadServers() {
    Started();
    HistoryWindow* self = this;
    m_pRunner->Run([self](HistoryQuery& query) {
        std::vector<std::string> servers;
        QString error;
        try {
            if (query.IsOpen()) servers = query.Servers();
        } catch (const std::exception& failure) {
            error = QString::fromStdString(failure.what());
        }
        QMetaObject::invokeMethod(
            self,
            [self, servers, error] {
                const QString chosen = self->m_pServers->currentText();
                self->m_pServers->clear();
                self->m_pServers->addItem(QStringLiteral("All servers"));
                for (const std::string& server : servers)
                    self->m_pServers->addItem(MonitorText(server));
                // A server chosen before the file named it (a session's own) stays chosen.
                if (self->m_pServers->findText(chosen) < 0) self->m_pServers->addItem(chosen);
                self->m_pServers->setCurrentIndex(self->m_pServers->findText(chosen));
                self->Finished(error);
            },
            Qt::QueuedConnection);
    });
}

void HistoryWindow::LoadGraph(const HistoryRange& range, bool byUser) {
    Started();
    const int generation = m_Generation;
    m_pRunner->Run([this, range, byUser, generation](HistoryQuery& query) {
        auto series = std::make_shared<HistorySeries>();
        QString error;
        try {
            *series = query.IsOpen() ? query.Traffic(range, byUser) : HistorySeries{};
        } catch (const std::exception& failure) {
            error = QString::fromStdString(failure.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, series, byUser, generation, error] {
                if (generation == m_Generation) ShowGraph(*series, byUser);
                Finished(error);
            },
            Qt::QueuedConnection);
    });
}

void HistoryWindow::ShowGraph(const HistorySeries& series, bool byUser) {
    m_Shown.m_BucketSeconds = series.m_BucketSeconds;
    m_Shown.m_BucketStarts = series.m_BucketStarts;
    m_Shown.m_Names = series.m_Names;
    m_bShownByUser = byUser;
    m_pGraph->SetTitle(byUser ? QStringLiteral("Traffic by user")
                              : QStringLiteral("Traffic by service"));
    m_pGraph->SetSubtitle(
        series.m_BucketSeconds > 0
            ? QStringLiteral("Bytes per %1").arg(BucketText(series.m_BucketSeconds))
            : QStringLiteral("Nothing recorded"));
    const int points = std::max<int>(2, int(series.m_BucketStarts.size()));
    const int subsets = std::max<int>(1, int(series.m_Names.size()));
    m_pGraph->SetSubsetCount(subsets);
    m_pGraph->SetPointCount(points);
    for (int s = 0; s < subsets; ++s) {
        if (s >= int(series.m_Names.size())) {
            m_pGraph->SetSubsetLabel(s, QStringLiteral("(none)"));
            continue;
        }
        const std::string& name = series.m_Names[size_t(s)];
        const std::string server =
            size_t(s) < series.m_Servers.size() ? series.m_Servers[size_t(s)] : std::string();
        m_pGraph->SetSubsetLabel(s, byUser ? UserOnServer(name, server) : MonitorText(name));
    }
    double peak = 0;
    std::vector<float> values(size_t(subsets), 0.0f);
    for (int p = 0; p < points; ++p) {
        for (int s = 0; s < subsets; ++s) {
            const bool known =
                s < int(series.m_Values.size()) && p < int(series.m_Values[size_t(s)].size());
            const double value = known ? double(series.m_Values[size_t(s)][size_t(p)]) : 0.0;
            values[size_t(s)] = float(value);
            peak = std::max(peak, value);
        }
        m_pGraph->AppendPoint(values);
        const int64_t start =
            p < int(series.m_BucketStarts.size()) ? series.m_BucketStarts[size_t(p)] : 0;
        m_pGraph->AppendPointLabel(start != 0 ? PointLabel(start, series.m_BucketSeconds)
                                              : QString());
    }
    m_pGraph->SetYMin(0);
    m_pGraph->SetYMax(peak > 0 ? peak * 1.1 : 10);
    m_pGraph->Refresh();
}

void HistoryWindow::LoadTotals(const HistoryRange& range) {
    for (int by = 0; by < 3; ++by) {
        Started();
        const int generation = m_Generation;
        m_pRunner->Run([this, range, by, generation](HistoryQuery& query) {
            auto totals = std::make_shared<std::vector<HistoryTotal>>();
            QString error;
            try {
                if (query.IsOpen()) *totals = query.Totals(range, HistoryQuery::TotalsBy(by));
            } catch (const std::exception& failure) {
                error = QString::fromStdString(failure.what());
            }
            QMetaObject::invokeMethod(
                this,
                [this, totals, by, generation, error] {
                    if (generation == m_Generation) ShowTotals(HistoryQuery::TotalsBy(by), *totals);
                    Finished(error);
                },
                Qt::QueuedConnection);
        });
    }
}

void HistoryWindow::ShowTotals(HistoryQuery::TotalsBy by, const std::vector<HistoryTotal>& totals) {
    QTableWidget* table = m_pTotals[by];
    table->setSortingEnabled(false);
    table->setRowCount(int(totals.size()));
    for (int row = 0; row < int(totals.size()); ++row) {
        const HistoryTotal& total = totals[size_t(row)];
        const QString cells[] = {
            by == HistoryQuery::ByUser ? UserOnServer(total.m_Name, total.m_Server)
                                       : MonitorText(total.m_Name),
            QString::number(total.m_Connections), Bytes(total.m_In), Bytes(total.m_Out)};
        for (int column = 0; column < 4; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(row, column, item);
        }
    }
}

void HistoryWindow::Started() {
    if (m_Pending++ == 0) m_pBusyDelay->start();
}

void HistoryWindow::Finished(const QString& error) {
    if (!error.isEmpty()) SetStatus(QStringLiteral("The history cannot be read: %1").arg(error));
    if (--m_Pending > 0) return;
    m_pBusyDelay->stop();
    m_pBusy->hide();
    emit idle();
}

void HistoryWindow::SetStatus(const QString& text) {
    m_StatusText = text;
    m_pStatus->setText(text);
}

void HistoryWindow::AskExportGrid() {
    const QString name =
        GWGetSaveFileName(this, QStringLiteral("Export Grid"), QStringLiteral("CSV Files (*.csv)"),
                          QStringLiteral("history-connections.csv"));
    if (!name.isEmpty()) ExportGrid(name);
}

void HistoryWindow::AskExportTotals() {
    const QString name = GWGetSaveFileName(this, QStringLiteral("Export Totals"),
                                           QStringLiteral("CSV Files (*.csv)"),
                                           QStringLiteral("history-totals.csv"));
    if (!name.isEmpty()) ExportTotals(name);
}

// Every row the grid holds, in its order, read page by page on the query thread.
void HistoryWindow::ExportGrid(const QString& fileName) {
    Started();
    SetStatus(QStringLiteral("Exporting to %1\u2026").arg(fileName));
    const HistoryRange range = m_pModel->Range();
    const int column = m_pModel->SortColumn();
    const bool ascending = m_pModel->IsAscending();
    const std::string path = fileName.toStdString();
    m_pRunner->Run([this, range, column, ascending, path, fileName](HistoryQuery& query) {
        int64_t rows = 0;
        QString error;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        try {
            if (!out) throw std::runtime_error("the file cannot be created");
            out << HistoryCsv::ConnectionHeader();
            for (bool more = query.IsOpen(); more;) {
                const auto page = query.Page(range, column, ascending, rows, ExportPageRows);
                for (const HistoryConnection& c : page) out << HistoryCsv::ConnectionRow(c);
                rows += int64_t(page.size());
                more = int64_t(page.size()) == ExportPageRows;
            }
            out.flush();
            if (!out) throw std::runtime_error("writing failed (is the disk full?)");
        } catch (const std::exception& failure) {
            error = QString::fromStdString(failure.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, rows, error, fileName] {
                if (error.isEmpty()) {
                    SetStatus(
                        QStringLiteral("Exported %1 connections to %2").arg(rows).arg(fileName));
                } else {
                    SetStatus(QString());
                    GWMessageBox(QStringLiteral("The grid could not be exported to %1: %2")
                                     .arg(fileName, error),
                                 this);
                }
                Finished(QString());
            },
            Qt::QueuedConnection);
    });
}

void HistoryWindow::ExportTotals(const QString& fileName) {
    Started();
    SetStatus(QStringLiteral("Exporting to %1\u2026").arg(fileName));
    const HistoryRange range = m_pModel->Range();
    const std::string path = fileName.toStdString();
    m_pRunner->Run([this, range, path, fileName](HistoryQuery& query) {
        QString error;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        try {
            if (!out) throw std::runtime_error("the file cannot be created");
            out << HistoryCsv::TotalHeader();
            for (int by = 0; by < 3 && query.IsOpen(); ++by) {
                for (const HistoryTotal& total : query.Totals(range, HistoryQuery::TotalsBy(by)))
                    out << HistoryCsv::TotalRow(TotalsKinds[by], total);
            }
            out.flush();
            if (!out) throw std::runtime_error("writing failed (is the disk full?)");
        } catch (const std::exception& failure) {
            error = QString::fromStdString(failure.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, error, fileName] {
                if (error.isEmpty()) {
                    SetStatus(QStringLiteral("Exported the totals to %1").arg(fileName));
                } else {
                    SetStatus(QString());
                    GWMessageBox(QStringLiteral("The totals could not be exported to %1: %2")
                                     .arg(fileName, error),
                                 this);
                }
                Finished(QString());
            },
            Qt::QueuedConnection);
    });
}

// A window of its own beside this one, so that several ranges can be compared.
UsageDialog* HistoryWindow::OpenUsage() {
    auto* dialog = new UsageDialog(m_Path, CurrentRange(), m_pFilter->text(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

void HistoryWindow::OpenSettings() {
    HistoryOptionsDlg dialog(this);
    if (GWExecDialog(dialog) == QDialog::Accepted) Apply();
}
