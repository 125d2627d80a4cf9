#include "gui/fleet/FleetTray.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include "gui/fleet/FleetAlerts.h"
#include "gui/session/CVGLDoc.h"
#include "gui/session/SessionList.h"

namespace {

QIcon StateIcon(FleetTray::State state) {
    static const QColor colours[] = {QColor(0x9e, 0x9e, 0x9e), QColor(0x2e, 0x9d, 0x4a),
                                     QColor(0xe0, 0x9b, 0x12), QColor(0xd0, 0x2f, 0x2f)};
    QIcon icon;
    for (int size : {16, 22, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x30, 0x30, 0x30), size / 16.0));
        painter.setBrush(colours[state]);
        const double margin = size / 8.0;
        painter.drawEllipse(QRectF(margin, margin, size - 2 * margin, size - 2 * margin));
        icon.addPixmap(pixmap);
    }
    return icon;
}

const char* StateText(FleetTray::State state) {
    switch (state) {
        case FleetTray::NoSession:
            return "VGL: no session";
        case FleetTray::AllConnected:
            return "VGL: every server connected";
        case FleetTray::Reconnecting:
            return "VGL: some servers reconnecting";
        case FleetTray::Trouble:
            return "VGL: a server lost, or an alert to see";
    }
    return "VGL";
}

}  // namespace

FleetTray::FleetTray(QWidget* window, std::function<void()> quit, QObject* parent)
    : QObject(parent), m_pWindow(window) {
    m_pMenu = new QMenu();
    m_pMenu->addAction(QStringLiteral("&Show VGL"), this, &FleetTray::ShowWindow);
    m_pPause = m_pMenu->addAction(QStringLiteral("&Pause Notifications"));
    m_pPause->setCheckable(true);
    connect(m_pPause, &QAction::toggled, this,
            [](bool paused) { FleetAlerts::Get().SetPaused(paused); });
    m_pMenu->addSeparator();
    m_pMenu->addAction(QStringLiteral("&Quit"), this, [quit] { quit(); });
    m_pIcon = new QSystemTrayIcon(this);
    m_pIcon->setContextMenu(m_pMenu);
    connect(m_pIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
                    ShowWindow();
            });
    SessionList& sessions = SessionList::Get();
    connect(&sessions, &SessionList::sessionsChanged, this, &FleetTray::Update);
    connect(&sessions, &SessionList::sessionChanged, this, &FleetTray::Update);
    connect(&FleetAlerts::Get(), &FleetAlerts::unreadChanged, this, &FleetTray::Update);
    connect(&FleetAlerts::Get(), &FleetAlerts::pausedChanged, this,
            [this] { m_pPause->setChecked(FleetAlerts::Get().IsPaused()); });
    m_State = StateNow();
    m_pIcon->setIcon(StateIcon(m_State));
    m_pIcon->setToolTip(QString::fromLatin1(StateText(m_State)));
    m_pIcon->show();
}

FleetTray::~FleetTray() {
    delete m_pMenu;
}

FleetTray::State FleetTray::StateNow() {
    const std::vector<CVGLDoc*>& sessions = SessionList::Get().Sessions();
    if (FleetAlerts::Get().Unread() > 0) return Trouble;
    State state = sessions.empty() ? NoSession : AllConnected;
    for (const CVGLDoc* session : sessions) {
        if (session->IsLost() && !session->IsReconnecting()) return Trouble;
        if (session->IsLost() || !session->GetTable().IsConnected()) state = Reconnecting;
    }
    return state;
}

void FleetTray::Update() {
    const State state = StateNow();
    if (state == m_State) return;
    m_State = state;
    m_pIcon->setIcon(StateIcon(state));
    m_pIcon->setToolTip(QString::fromLatin1(StateText(state)));
}

void FleetTray::ShowWindow() {
    if (!m_pWindow) return;
    if (m_pWindow->isMinimized()) {
        m_pWindow->showNormal();
    } else {
        m_pWindow->show();
    }
    m_pWindow->raise();
    m_pWindow->activateWindow();
}

void FleetTray::ShowMessage(const QString& title, const QString& body) {
    m_pIcon->showMessage(title, body, QSystemTrayIcon::Warning);
}
