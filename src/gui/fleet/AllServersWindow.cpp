#include "gui/fleet/AllServersWindow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

#include "core/base/WaitCursor.h"
#include "core/table/PMCTable.h"
#include "gui/framework/FirstSize.h"
#include "gui/framework/SingleWindow.h"
#include "gui/grid/ConnectionPane.h"
#include "gui/grid/GridModel.h"
#include "gui/grid/GridView.h"
#include "gui/session/CVGLDoc.h"
#include "gui/session/SessionList.h"

namespace {

QPointer<AllServersWindow> g_pAllServers;

// The choices of the Group By box, in its order.
constexpr GroupBy Groupings[] = {GroupBy::Connection, GroupBy::User,   GroupBy::Destination,
                                 GroupBy::Service,    GroupBy::Client, GroupBy::Server};

}  // namespace

AllServersWindow::AllServersWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("All Servers"));
    m_pGrid = new GridView;
    m_pGrid->Model()->ShowServerColumn(true);
    QHeaderView* header = m_pGrid->horizontalHeader();
    header->moveSection(header->visualIndex(GridModel::ServerColumn), 0);
    m_pGrid->setColumnWidth(GridModel::ServerColumn,
                            m_pGrid->fontMetrics().horizontalAdvance(QStringLiteral("x")) * 22);
    m_pPane = new ConnectionPane(m_pGrid, this);
    m_pPane->SetTotalsPerServer(true);

    m_pGroupBy = new QComboBox;
    m_pGroupBy->setObjectName(QStringLiteral("groupBy"));
    for (GroupBy by : Groupings)
        m_pGroupBy->addItem(QString::fromLatin1(ConnectionGroups::Title(by)));
    auto* label = new QLabel(QStringLiteral("&Group by:"));
    label->setBuddy(m_pGroupBy);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(4, 4, 4, 0);
    bar->addWidget(label);
    bar->addWidget(m_pGroupBy);
    bar->addStretch(1);
    auto* exportButton = new QPushButton(QStringLiteral("&Export..."));
    bar->addWidget(exportButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(m_pPane, 1);

    connect(m_pGroupBy, &QComboBox::activated, this, &AllServersWindow::OnGroupByChosen);
    connect(exportButton, &QPushButton::clicked, m_pPane, &ConnectionPane::OnExport);
    connect(m_pPane, &ConnectionPane::groupingChanged, this, &AllServersWindow::ShowGroupingChoice);
    SessionList& sessions = SessionList::Get();
    connect(&sessions, &SessionList::sessionsChanged, this, &AllServersWindow::ShowSessions);
    connect(&sessions, &SessionList::sessionPolled, this, &AllServersWindow::OnSessionPolled);
    // A session that connects anew starts with no entries: what the filter
    // searches is taken from its table again before it is searched.
    connect(&sessions, &SessionList::sessionChanged, this,
            [this](CVGLDoc* session) { m_pGrid->Model()->TableChanged(&session->GetTable()); });
    ShowSessions();
    GWFitFirstSize(*this, QSize(1100, 640), minimumSizeHint());
}

AllServersWindow::~AllServersWindow() = default;

AllServersWindow* AllServersWindow::ShowWindow(QWidget* owner) {
    return ShowSingleWindow(g_pAllServers, owner);
}

// A session opened or closed: the grid shows the sessions open now. This is
// told while a closing session is destroyed, so its table leaves the grid
// before it goes.
void AllServersWindow::ShowSessions() {
    // A session's rows are shown and matched with the server its table
    // connected to, as in the session's own grid.
    std::vector<GridSource> sources;
    for (const CVGLDoc* session : SessionList::Get().Sessions())
        sources.push_back({&session->GetTable(), std::string()});
    GWWaitCursor wait;
    m_pGrid->ShowSources(sources);
}

void AllServersWindow::OnSessionPolled(CVGLDoc* session) {
    m_pGrid->SourceUpdated(&session->GetTable());
}

void AllServersWindow::OnGroupByChosen(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(Groupings))) return;
    GWWaitCursor wait;
    m_pPane->SetGrouping(Groupings[index]);
}

void AllServersWindow::ShowGroupingChoice() {
    for (size_t i = 0; i < std::size(Groupings); ++i) {
        if (Groupings[i] == m_pPane->Grouping()) m_pGroupBy->setCurrentIndex(static_cast<int>(i));
    }
}
