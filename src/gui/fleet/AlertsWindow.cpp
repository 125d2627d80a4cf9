#include "gui/fleet/AlertsWindow.h"

#include <QDateTime>
#include <QHeaderView>
#include <QTableWidget>

#include "gui/fleet/AlertsDialog.h"
#include "gui/fleet/FleetAlerts.h"
#include "gui/framework/SingleWindow.h"
#include "gui/history/HistoryWindow.h"
#include "gui/session/CVGLDoc.h"
#include "gui/session/SessionList.h"
#include "gui/session/SessionTab.h"

namespace {

QPointer<AlertsWindow> g_pWindow;
constexpr int FilterRole = Qt::UserRole + 1;
constexpr int TimeRole = Qt::UserRole + 2;
constexpr int FailedRole = Qt::UserRole + 3;
constexpr int64_t HistoryLookBack = 15 * 60;  // what History shows of an alert's server

}  // namespace

AlertsWindow::AlertsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Alerts"));
    m_pList = new QTableWidget(0, 4, this);
    m_pList->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Rule"),
                                        QStringLiteral("Server"), QStringLiteral("What")});
    m_pList->horizontalHeader()->setStretchLastSection(true);
    m_pList->verticalHeader()->hide();
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pStatus = new QLabel(QStringLiteral("Double-click an alert to see its connections."), this);
    auto* rules = new QPushButton(QStringLiteral("&Rules..."), this);
    auto* clear = new QPushButton(QStringLiteral("&Clear list"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pStatus, 1);
    bottom->addWidget(clear);
    bottom->addWidget(rules);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pList, 1);
    layout->addLayout(bottom);
    resize(900, 380);

    Fill();
    connect(&FleetAlerts::Get(), &FleetAlerts::fired, this, [this](const AlertFiring& firing) {
        Add(firing);
        if (isVisible()) FleetAlerts::Get().MarkRead();
    });
    connect(m_pList, &QTableWidget::cellDoubleClicked, this, [this](int row) { OpenLine(row); });
    connect(rules, &QPushButton::clicked, this, [this] { AlertsDialog(this).exec(); });
    connect(clear, &QPushButton::clicked, this, [this] { m_pList->setRowCount(0); });
}

AlertsWindow* AlertsWindow::ShowWindow(QWidget* owner) {
    return ShowSingleWindow(g_pWindow, owner);
}

void AlertsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FleetAlerts::Get().MarkRead();
}

QString AlertsWindow::StatusText() const {
    return m_pStatus->text();
}

void AlertsWindow::Fill() {
    m_pList->setRowCount(0);
    for (const AlertFiring& firing : FleetAlerts::Get().Firings()) Add(firing);
}

// The newest on top.
void AlertsWindow::Add(const AlertFiring& firing) {
    m_pList->insertRow(0);
    const QString texts[] = {QDateTime::fromSecsSinceEpoch(firing.m_Time)
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                             QString::fromStdString(firing.m_Rule),
                             QString::fromStdString(firing.m_Server),
                             QString::fromStdString(firing.m_What)};
    for (int column = 0; column < 4; ++column) {
        auto* item = new QTableWidgetItem(texts[column]);
        if (column == 0) {
            item->setData(FilterRole, QString::fromStdString(firing.m_Filter));
            item->setData(TimeRole, qint64(firing.m_Time));
            item->setData(FailedRole, firing.m_bFailed);
        }
        m_pList->setItem(0, column, item);
    }
    for (int column = 0; column < 3; ++column) m_pList->resizeColumnToContents(column);
}

bool AlertsWindow::OpenLine(int row) {
    const QTableWidgetItem* first = m_pList->item(row, 0);
    const QTableWidgetItem* server = m_pList->item(row, 2);
    if (!first || !server) return false;
    for (CVGLDoc* session : SessionList::Get().Sessions()) {
        if (session->ServerName() != server->text()) continue;
        const QString filter = first->data(FilterRole).toString();
        if (!filter.isEmpty()) session->SetFilterText(filter);
        if (first->data(FailedRole).toBool() && session->GetTable().IsShowActive()) {
            session->OnShowFailed();
        }
        ShowSessionTab(session);
        m_pStatus->setText(
            filter.isEmpty()
                ? QStringLiteral("Opened %1.").arg(server->text())
                : QStringLiteral("Opened %1 filtered by %2").arg(server->text(), filter));
        return true;
    }
    m_pStatus->setText(
        QStringLiteral("No session of %1 is open: its connections are in View > History.")
            .arg(server->text()));
    return false;
}
