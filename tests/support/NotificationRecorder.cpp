#include "support/NotificationRecorder.h"

#include <QDBusConnectionInterface>

namespace {

const char* const ServiceConnection = "vgl-test-notification-service";
const char* const ClientConnectionName = "vgl-test-notification-client";

}  // namespace

uint NotificationService::Notify(const QString& app, uint, const QString&, const QString& summary,
                                 const QString& body, const QStringList&, const QVariantMap&, int) {
    m_Notices.push_back({app, summary, body});
    return static_cast<uint>(m_Notices.size());
}

NotificationRecorder::NotificationRecorder() {
    m_Daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address")});
    if (!m_Daemon.waitForStarted(10000)) return;
    while (!m_Daemon.canReadLine() && m_Daemon.waitForReadyRead(10000)) {
    }
    const QString address = QString::fromUtf8(m_Daemon.readLine()).trimmed();
    QDBusConnection bus =
        QDBusConnection::connectToBus(address, QString::fromLatin1(ServiceConnection));
    if (!bus.isConnected() ||
        !bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_Service,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        return;
    }
    m_Address = address;
}

NotificationRecorder::~NotificationRecorder() {
    QDBusConnection::disconnectFromBus(QString::fromLatin1(ClientConnectionName));
    QDBusConnection::disconnectFromBus(QString::fromLatin1(ServiceConnection));
    m_Daemon.terminate();
    m_Daemon.waitForFinished(5000);
}

QDBusConnection NotificationRecorder::ClientConnection() const {
    return QDBusConnection::connectToBus(m_Address, QString::fromLatin1(ClientConnectionName));
}
