#include "gui/fleet/ServersWindow.h"

#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QTableView>

#include "gui/fleet/ServersModel.h"
#include "gui/fleet/TrafficLineDelegate.h"
#include "gui/framework/SingleWindow.h"
#include "gui/session/SessionTab.h"

namespace {

QPointer<ServersWindow> g_pWindow;

}  // namespace

ServersWindow::ServersWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Servers"));
    m_pModel = new ServersModel(this);
    m_pSorted = new QSortFilterProxyModel(this);
    m_pSorted->setSourceModel(m_pModel);
    m_pSorted->setSortRole(ServersModel::SortRole);

    m_pFilter = new QLineEdit(this);
    m_pFilter->setPlaceholderText(
        QStringLiteral("Filter: words, user:, dest:, server:, result:..."));
    m_pFilter->setClearButtonEnabled(true);
    m_pError = new QLabel(this);
    m_pError->setStyleSheet(QStringLiteral("color: #a00"));
    m_pError->hide();

    m_pGrid = new QTableView(this);
    m_pGrid->setModel(m_pSorted);
    m_pGrid->setSortingEnabled(true);
    m_pGrid->sortByColumn(ServersModel::ColServer, Qt::AscendingOrder);
    m_pGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pGrid->verticalHeader()->hide();
    m_pGrid->setItemDelegateForColumn(ServersModel::ColTraffic, new TrafficLineDelegate(m_pGrid));
    m_pGrid->horizontalHeader()->setStretchLastSection(true);
    m_pGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_pGrid->horizontalHeader()->setSectionResizeMode(ServersModel::ColTraffic,
                                                      QHeaderView::Stretch);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pFilter);
    layout->addWidget(m_pError);
    layout->addWidget(m_pGrid, 1);
    resize(1100, 360);

    connect(m_pFilter, &QLineEdit::textChanged, this, &ServersWindow::ApplyFilter);
    connect(m_pGrid, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { OpenRow(index.row()); });
    // The ages of the last polls and the reconnects' countdowns move on.
    m_pClock = new QTimer(this);
    m_pClock->setInterval(1000);
    connect(m_pClock, &QTimer::timeout, m_pModel, &ServersModel::ClockMoved);
    m_pClock->start();
}

ServersWindow* ServersWindow::ShowWindow(QWidget* owner) {
    return ShowSingleWindow(g_pWindow, owner);
}

CVGLDoc* ServersWindow::SessionOfRow(int row) const {
    return m_pModel->Session(m_pSorted->mapToSource(m_pSorted->index(row, 0)).row());
}

void ServersWindow::OpenRow(int row) {
    ShowSessionTab(SessionOfRow(row));
}

void ServersWindow::ApplyFilter() {
    std::string error;
    const bool ok = m_pModel->SetFilter(m_pFilter->text().toStdString(), error);
    m_pError->setText(QString::fromStdString(error));
    m_pError->setVisible(!ok);
}
