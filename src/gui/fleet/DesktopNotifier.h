#pragma once
// Tells the desktop of an alert through the freedesktop notification service
// on the session bus. The call never waits: when the bus or the service is
// not there, or the call fails, `unavailable` hands the notice on to be shown
// some other way (the tray icon's message).

#include <QDBusConnection>
#include <QObject>
#include <QString>

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);

    void Notify(const QString& summary, const QString& body);
    // Calls sent and answered by the service.
    int Delivered() const { return m_Delivered; }

signals:
    void unavailable(const QString& summary, const QString& body);

private:
    QDBusConnection m_Bus;
    int m_Delivered = 0;
};
