#include "gui/grid/ConnectionPane.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <set>

#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"
#include "core/view/ConnectionTotals.h"
#include "gui/control/BlocksWindow.h"
#include "gui/control/ConnectionActions.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/MonitorText.h"
#include "gui/grid/ExportJob.h"
#include "gui/grid/ExportProgress.h"
#include "gui/grid/ExportSnapshot.h"
#include "gui/grid/GridModel.h"
#include "gui/grid/GridView.h"
#include "gui/grid/GroupModel.h"
#include "gui/grid/LocaleNumbers.h"
#include "gui/session/CVGLDoc.h"

namespace {

QString Rate(double bytesPerSecond, int dataUnit) {
    std::string text;
    EntryObj::FormatRate(bytesPerSecond, dataUnit, text);
    return text.empty() ? QStringLiteral("-")
                        : LocaleNumbers::Grouped(QString::fromStdString(text));
}

QString Bytes(uint64_t bytes, int dataUnit) {
    std::string text;
    EntryObj::FormatBytes(bytes, dataUnit, text);
    return LocaleNumbers::Grouped(QString::fromStdString(text));
}

}  // namespace

ConnectionPane::ConnectionPane(GridView* grid, QWidget* parent) : QWidget(parent), m_pGrid(grid) {
    m_pFilterEdit = new QLineEdit;
    m_pFilterEdit->setObjectName(QStringLiteral("filterEdit"));
    m_pFilterEdit->setPlaceholderText(
        QStringLiteral("Filter (Ctrl+F): words, user:NAME, dest:10.0.0.0/8, -word to leave out"));
    m_pFilterEdit->setClearButtonEnabled(true);
    m_pFilterEdit->installEventFilter(this);
    m_pFilterError = new QLabel;
    m_pFilterError->setObjectName(QStringLiteral("filterError"));
    m_pFilterError->setStyleSheet(QStringLiteral("color: #b00020;"));
    m_pCount = new QLabel;
    m_pCount->setObjectName(QStringLiteral("rowCount"));

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(4, 2, 4, 2);
    bar->addWidget(m_pFilterEdit, 3);
    bar->addWidget(m_pFilterError, 2);
    bar->addWidget(m_pCount);

    m_pGroupModel = new GroupModel(this);
    m_pGroupView = new QTableView;
    m_pGroupView->setObjectName(QStringLiteral("groupGrid"));
    m_pGroupView->setModel(m_pGroupModel);
    m_pGroupView->setSortingEnabled(true);
    m_pGroupView->sortByColumn(GroupModel::BytesTotal, Qt::DescendingOrder);
    m_pGroupView->verticalHeader()->hide();
    // Rows as high as the connection grid's.
    m_pGroupView->verticalHeader()->setDefaultSectionSize(m_pGroupView->fontMetrics().height() + 6);
    m_pGroupView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pGroupView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pGroupView->setWordWrap(false);
    // Host and user names are the point of a group: room for a long one; the
    // numbers share the rest.
    QHeaderView* header = m_pGroupView->horizontalHeader();
    header->setDefaultSectionSize(
        m_pGroupView->fontMetrics().horizontalAdvance(QStringLiteral("0000000000000")));
    header->resizeSection(GroupModel::Name, m_pGroupView->fontMetrics().averageCharWidth() * 30);
    header->setStretchLastSection(true);
    connect(m_pGroupView, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { OnGroupActivated(index.row()); });

    m_pStack = new QStackedWidget;
    m_pStack->addWidget(m_pGrid);
    m_pStack->addWidget(m_pGroupView);

    m_pTotals = new QLabel;
    m_pTotals->setObjectName(QStringLiteral("totals"));
    m_pTotals->setContentsMargins(4, 2, 4, 2);
    // Texts that change with every poll or keystroke must not make the
    // session window, and with it the main window, grow; what does not fit is cut.
    m_pTotals->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pFilterError->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(m_pStack, 1);
    layout->addWidget(m_pTotals);

    connect(m_pFilterEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_pDocument) {
            m_pDocument->SetFilterText(text);
        } else {
            Apply(text, m_Grouping);
        }
    });
    connect(m_pGrid, &GridView::rowsChanged, this, &ConnectionPane::Refresh);
    m_pGrid->SetChosenEntries([this] { return ChosenEntries(); });
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_pGrid),
                                    static_cast<QAbstractItemView*>(m_pGroupView)}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& at) { ShowActions(view, at); });
    }
    Refresh();
}

std::vector<const EntryObj*> ConnectionPane::ChosenEntries() const {
    if (m_pStack->currentWidget() != m_pGroupView) return m_pGrid->SelectedEntries();
    std::set<std::string> names;
    for (const QModelIndex& index : m_pGroupView->selectionModel()->selectedRows()) {
        if (const ConnectionGroup* group = m_pGroupModel->GroupAt(index.row())) {
            names.insert(group->m_Name);
        }
    }
    std::vector<const EntryObj*> chosen;
    const GroupBy by = m_pGroupModel->Groups().By();
    for (const EntryObj* entry : m_pGrid->Model()->ShownEntries()) {
        if (names.count(ConnectionGroups::GroupName(by, *entry)) != 0) chosen.push_back(entry);
    }
    return chosen;
}

// Only a session's grid acts: the grid of all servers has no one monitor to ask.
void ConnectionPane::ShowActions(QAbstractItemView* view, const QPoint& at) {
    if (!m_pDocument) return;
    QMenu menu(this);
    ConnectionActions::AddToMenu(&menu, m_pDocument, ControlTargets::Of(ChosenEntries()), this);
    menu.addSeparator();
    QPointer<CVGLDoc> document = m_pDocument;
    menu.addAction(QStringLiteral("Bloc&ks..."), this, [this, document] {
        if (document) BlocksWindow::ShowFor(document, window());
    });
    menu.exec(view->viewport()->mapToGlobal(at));
}

// Esc in the filter field empties it.
bool ConnectionPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pFilterEdit && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        !m_pFilterEdit->text().isEmpty()) {
        m_pFilterEdit->clear();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ConnectionPane::SetDocument(CVGLDoc* document) {
    if (m_pDocument) disconnect(m_pDocument, nullptr, this, nullptr);
    m_pDocument = document;
    if (m_pDocument) {
        connect(m_pDocument, &CVGLDoc::viewChoiceChanged, this, &ConnectionPane::ApplyViewChoice);
        m_pGrid->Model()->SetTable(&m_pDocument->GetTable());
    }
    ApplyViewChoice();
}

void ConnectionPane::FocusFilter() {
    m_pFilterEdit->setFocus(Qt::ShortcutFocusReason);
    m_pFilterEdit->selectAll();
}

QWidget* ConnectionPane::ShownGrid() const {
    return m_pStack->currentWidget();
}

void ConnectionPane::SetGrouping(GroupBy by) {
    if (m_pDocument) {
        m_pDocument->SetGrouping(by);
        return;
    }
    if (by == m_Grouping) return;
    Apply(m_pFilterEdit->text(), by);
    emit groupingChanged();
}

void ConnectionPane::SetTotalsPerServer(bool perServer) {
    m_bTotalsPerServer = perServer;
    Refresh();
}

void ConnectionPane::ApplyViewChoice() {
    if (m_pDocument) Apply(m_pDocument->FilterText(), m_pDocument->Grouping());
}

// The choice reaches the models: the filter chooses connections, then they
// are grouped.
void ConnectionPane::Apply(const QString& text, GroupBy by) {
    m_Grouping = by;
    if (m_pFilterEdit->text() != text) {
        const QSignalBlocker quiet(m_pFilterEdit);
        m_pFilterEdit->setText(text);
    }
    // A change of grouping alone leaves the chosen connections as they are.
    const std::string line = text.toStdString();
    if (line != m_pGrid->Model()->Filter().Text()) {
        m_pGrid->Model()->SetFilter(line);
    }
    m_pFilterError->setText(QString::fromStdString(m_pGrid->Model()->Filter().Error()));
    const bool grouped = m_Grouping != GroupBy::Connection;
    m_pStack->setCurrentWidget(grouped ? static_cast<QWidget*>(m_pGroupView) : m_pGrid);
    Refresh();
}

// Many rows are counted in a turn of their own, after the grid's: reading
// 100,000 connections twice in one turn is more than a frame.
void ConnectionPane::Refresh() {
    if (static_cast<size_t>(m_pGrid->Model()->rowCount()) < m_nPartsFrom) {
        RefreshNow();
        return;
    }
    if (m_bRefreshPending) return;
    m_bRefreshPending = true;
    QTimer::singleShot(0, this, [this] {
        m_bRefreshPending = false;
        RefreshNow();
    });
}

void ConnectionPane::RefreshNow() {
    const GridModel* model = m_pGrid->Model();
    m_pCount->setText(
        QStringLiteral("%1 of %2 connections").arg(model->rowCount()).arg(model->TableRowCount()));
    const std::vector<const EntryObj*> shown = model->ShownEntries();
    ConnectionTotals totals;
    if (m_Grouping == GroupBy::Connection) {
        for (const EntryObj* entry : shown) totals.Add(*entry);
        ShowTotals(totals, nullptr);
        return;
    }
    // A session's many connections are grouped a part per turn, its batches
    // waiting meanwhile, since the groups are found by views of their texts.
    if (m_pDocument && !m_bTotalsPerServer && m_Grouping != GroupBy::Server &&
        shown.size() >= m_nPartsFrom) {
        GroupInParts(shown);
        return;
    }
    m_GroupsHold.Release();
    m_bGroupsPending = false;
    const bool byServer = m_Grouping == GroupBy::Server || m_bTotalsPerServer;
    const std::vector<std::string_view> servers =
        byServer ? model->ShownServers() : std::vector<std::string_view>();
    m_pGroupModel->Rebuild(m_Grouping, shown, DataUnit(), servers);
    totals = GroupTotals();
    if (!m_bTotalsPerServer) {
        ShowTotals(totals, nullptr);
    } else if (m_Grouping == GroupBy::Server) {
        ShowTotals(totals, &m_pGroupModel->Groups());
    } else {
        ConnectionGroups perServer;
        perServer.Build(GroupBy::Server, shown, servers);
        ShowTotals(totals, &perServer);
    }
}

void ConnectionPane::SetPartsFrom(size_t connections) {
    m_nPartsFrom = connections;
    m_pGrid->Model()->SetSorterRows(connections);
}

// The groups have been through every connection already.
ConnectionTotals ConnectionPane::GroupTotals() const {
    ConnectionTotals totals;
    for (const ConnectionGroup& group : m_pGroupModel->Groups().Groups())
        totals.Add(group.m_Totals);
    return totals;
}

void ConnectionPane::GroupInParts(std::vector<const EntryObj*> entries) {
    m_GroupsHold.Hold(m_pDocument);
    m_bGroupsPending = true;
    m_GroupListVersion = m_pDocument->GetTable().DisplayListVersion();
    m_Building.Begin(m_Grouping, std::move(entries));
    GroupSome(++m_GroupJob);
}

// A display list made again meanwhile (the session was cleared or switched
// between its lists) ends the build: the views are told, and group anew.
void ConnectionPane::GroupSome(uint64_t job) {
    using Clock = std::chrono::steady_clock;
    constexpr size_t EntriesPerLook = 2000;
    if (job != m_GroupJob || !m_GroupsHold.Held()) return;
    if (m_GroupsHold.Held() != m_pDocument ||
        m_pDocument->GetTable().DisplayListVersion() != m_GroupListVersion) {
        m_GroupsHold.Release();
        m_bGroupsPending = false;
        return;
    }
    const auto until = Clock::now() + std::chrono::milliseconds(8);
    bool whole = false;
    while (!whole && Clock::now() < until) whole = m_Building.Continue(EntriesPerLook);
    if (!whole) {
        QTimer::singleShot(0, this, [this, job] { GroupSome(job); });
        return;
    }
    m_GroupsHold.Release();
    // Shown in a turn of their own.
    QTimer::singleShot(0, this, [this, job] { ShowGroups(job); });
}

void ConnectionPane::ShowGroups(uint64_t job) {
    if (job != m_GroupJob) return;
    m_pGroupModel->Adopt(std::move(m_Building), DataUnit());
    m_Building = ConnectionGroups();
    m_bGroupsPending = false;
    ShowTotals(GroupTotals(), nullptr);
}

int ConnectionPane::DataUnit() const {
    if (m_pDocument) return m_pDocument->GetTable().DataUnit();
    const PMCTable* table = m_pGrid->Model()->Table();
    return table ? table->DataUnit() : 0;
}

namespace {

QString TotalsText(const ConnectionTotals& totals, int unit) {
    return QStringLiteral(
               "Shown: %1    Active: %2    Failed: %3    In: %4    Out: %5    "
               "In rate: %6    Out rate: %7")
        .arg(LocaleNumbers::Count(totals.m_Connections), LocaleNumbers::Count(totals.m_Active),
             LocaleNumbers::Count(totals.m_Failed), Bytes(totals.m_BytesIn, unit),
             Bytes(totals.m_BytesOut, unit), Rate(totals.m_RateIn, unit),
             Rate(totals.m_RateOut, unit));
}

}  // namespace

// The servers' lines go in the order of their names, so that a server keeps
// its line from poll to poll whatever the grid is sorted by.
void ConnectionPane::ShowTotals(const ConnectionTotals& totals, const ConnectionGroups* perServer) {
    const int unit = DataUnit();
    QStringList lines{TotalsText(totals, unit)};
    if (perServer) {
        std::vector<const ConnectionGroup*> servers;
        for (const ConnectionGroup& group : perServer->Groups()) servers.push_back(&group);
        std::sort(servers.begin(), servers.end(),
                  [](const ConnectionGroup* l, const ConnectionGroup* r) {
                      return l->m_Name < r->m_Name;
                  });
        for (const ConnectionGroup* server : servers) {
            const QString name =
                server->m_Name.empty() ? QStringLiteral("(none)") : MonitorText(server->m_Name);
            lines << name + QStringLiteral(" \u2014 ") + TotalsText(server->m_Totals, unit);
        }
    }
    m_pTotals->setText(lines.join(QLatin1Char('\n')));
}

void ConnectionPane::OnGroupActivated(int row) {
    const ConnectionGroup* group = m_pGroupModel->GroupAt(row);
    if (!group) return;
    const QString term = QString::fromStdString(
        ConnectionGroups::FilterTerm(m_pGroupModel->Groups().By(), group->m_Name));
    // Filter first: the grouping's change then shows the connections already chosen.
    if (m_pDocument) {
        m_pDocument->SetFilterText(term);
    } else {
        m_pFilterEdit->setText(term);
    }
    SetGrouping(GroupBy::Connection);
}

ExportSheet ConnectionPane::SheetOnShow() const {
    const int32_t hostForm = m_pDocument ? m_pDocument->GetTable().HostForm() : 1;
    if (m_pStack->currentWidget() == m_pGroupView) {
        ExportSheet sheet = ExportSheet::FromGroups(m_pGroupModel->Groups());
        std::vector<std::vector<ExportCell>> rows;
        for (int row = 0; row < m_pGroupModel->rowCount(); ++row) {
            const ConnectionGroup* group = m_pGroupModel->GroupAt(row);
            rows.push_back(
                sheet.m_Rows[static_cast<size_t>(group - m_pGroupModel->Groups().Groups().data())]);
        }
        sheet.m_Rows = std::move(rows);
        return sheet;
    }
    ExportSheet sheet =
        ExportSheet::FromConnections(m_pGrid->Model()->ShownEntries(), m_pGrid->ShownColumns(),
                                     hostForm, static_cast<int64_t>(std::time(nullptr)));
    if (m_pGrid->Model()->ServerColumnShown()) AddServerColumn(sheet);
    return sheet;
}

// The grid of several servers: each row says whose it is, first.
void ConnectionPane::AddServerColumn(ExportSheet& sheet) const {
    const std::vector<std::string_view> servers = m_pGrid->Model()->ShownServers();
    sheet.m_Titles.insert(sheet.m_Titles.begin(), "Server");
    sheet.m_Keys.insert(sheet.m_Keys.begin(), "server");
    for (size_t row = 0; row < sheet.m_Rows.size() && row < servers.size(); ++row) {
        ExportCell cell;
        cell.m_Kind = ExportCell::Text;
        cell.m_Text = std::string(servers[row]);
        sheet.m_Rows[row].insert(sheet.m_Rows[row].begin(), std::move(cell));
    }
}

bool ConnectionPane::StartExport(const QString& fileName, QString& error, ExportDone done) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix != QLatin1String("csv") && suffix != QLatin1String("json")) {
        error = QStringLiteral("Export writes a .csv or a .json file; \"%1\" is neither.")
                    .arg(QFileInfo(fileName).fileName());
        return false;
    }
    if (m_bExporting) {
        error = QStringLiteral("An export of this grid is still being written.");
        return false;
    }
    m_bExporting = true;
    const bool json = suffix == QLatin1String("json");
    // The grid of all servers and the groups are taken at once: the groups
    // are few, and the servers' tables are not this pane's to hold.
    if (!m_pDocument || m_pStack->currentWidget() == m_pGroupView ||
        m_pGrid->Model()->ServerColumnShown()) {
        WriteExport(SheetOnShow(), fileName, json, std::move(done));
        return true;
    }
    m_pExportStep = new ExportSnapshot(
        m_pDocument, m_pGrid->Model(), m_pGrid->ShownColumns(),
        [this, fileName, json, done = std::move(done)](ExportSheet sheet) mutable {
            m_pExportStep->deleteLater();
            WriteExport(std::move(sheet), fileName, json, std::move(done));
        },
        this);
    return true;
}

void ConnectionPane::WriteExport(ExportSheet sheet, const QString& fileName, bool json,
                                 ExportDone done) {
    auto* job = new ExportJob(std::move(sheet), fileName,
                              json ? ExportJob::Format::Json : ExportJob::Format::Csv, this);
    m_pExportStep = job;
    if (auto* main = qobject_cast<QMainWindow*>(window()); main && main->statusBar())
        main->statusBar()->addPermanentWidget(new ExportProgress(job, main->statusBar()));
    connect(job, &ExportJob::finished, this,
            [this, job, done = std::move(done)](bool whole, const QString& error) {
                m_bExporting = false;
                job->deleteLater();
                if (done) done(whole, error);
            });
    job->Start();
}

void ConnectionPane::CancelExport() {
    if (auto* job = qobject_cast<ExportJob*>(m_pExportStep.data())) {
        job->Cancel();
    } else if (m_pExportStep) {
        delete m_pExportStep.data();  // its rows were still being taken
        m_bExporting = false;
    }
}

void ConnectionPane::OnExport() {
    const QString fileName = GWGetSaveFileName(window(), QStringLiteral("Export"),
                                               QStringLiteral("CSV (*.csv);;JSON (*.json)"),
                                               QStringLiteral("connections.csv"));
    if (fileName.isEmpty()) return;
    QString error;
    QPointer<QWidget> owner = window();
    const bool started =
        StartExport(fileName, error, [owner, fileName](bool done, const QString& why) {
            if (!owner) return;
            if (!done && !why.isEmpty()) {
                GWMessageBox(why, owner);
            } else if (done) {
                if (auto* main = qobject_cast<QMainWindow*>(owner.data());
                    main && main->statusBar())
                    main->statusBar()->showMessage(QStringLiteral("Exported to %1").arg(fileName),
                                                   5000);
            }
        });
    if (!started) GWMessageBox(error, window());
}
