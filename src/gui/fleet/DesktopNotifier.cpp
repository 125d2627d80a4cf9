#include "gui/fleet/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const char* const Service = "org.freedesktop.Notifications";
const char* const Path = "/org/freedesktop/Notifications";
constexpr int ExpireDefault = -1;  // the server's own time-out

}  // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_Bus(bus) {}

void DesktopNotifier::Notify(const QString& summary, const QString& body) {
    if (!m_Bus.isConnected()) {
        emit unavailable(summary, body);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(Service), QString::fromLatin1(Path),
                                       QString::fromLatin1(Service), QStringLiteral("Notify"));
    call << QStringLiteral("VGL") << 0u << QStringLiteral("vgl") << summary << body << QStringList()
         << QVariantMap() << ExpireDefault;
    auto* watcher = new QDBusPendingCallWatcher(m_Bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, summary, body] {
        const QDBusPendingReply<uint> reply = *watcher;
        watcher->deleteLater();
        if (reply.isError()) {
            emit unavailable(summary, body);
        } else {
            ++m_Delivered;
        }
    });
}
