#pragma once
// A private session bus (its own dbus-daemon) with a small notification
// service on it that records every Notify call, for tests of desktop
// notifications against the real protocol.

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

struct RecordedNotice {
    QString m_App;
    QString m_Summary;
    QString m_Body;
};

class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    std::vector<RecordedNotice> m_Notices;

public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout);
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
};

class NotificationRecorder {
public:
    // Starts the bus and registers the service; Address() is empty when that failed.
    NotificationRecorder();
    ~NotificationRecorder();

    const QString& Address() const { return m_Address; }
    // A connection of the program's own to the private bus.
    QDBusConnection ClientConnection() const;
    const std::vector<RecordedNotice>& Notices() const { return m_Service.m_Notices; }

private:
    QProcess m_Daemon;
    QString m_Address;
    NotificationService m_Service;
};
