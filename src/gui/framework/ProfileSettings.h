#pragma once
// The profile: everything the program keeps between starts (QSettings, in
// ~/.config/VGL/), each key with its default, so that no other file names a
// key or guesses at a default.

#include <QByteArray>
#include <QString>
#include <QStringList>

class ProfileSettings {
public:
    // The recent-file list, newest first.
    static QStringList RecentFiles();
    static void SetRecentFiles(const QStringList& files);

    // The options last applied, as a session document's JSON; empty when none were kept.
    static QByteArray SessionDefaults();
    static void SetSessionDefaults(const QByteArray& json);

    // The history writer's options: on unless switched off, 30 days and
    // 1024 MiB unless set, never below the least a user can set.
    static bool HistoryEnabled();
    static int HistoryKeepDays();
    static int HistoryMaxMiB();
    static void SetHistory(bool enabled, int keepDays, int maxMiB);

    // The alerts' rules as JSON (empty: none kept, the defaults hold), the
    // quiet interval after a notification (15 minutes unless set, at least
    // 1) and whether closing the main window keeps the program in the tray
    // (off unless set).
    static QByteArray AlertRules();
    static int AlertQuietMinutes();
    static bool CloseToTray();
    static void SetAlerts(const QByteArray& rules, int quietMinutes, bool closeToTray);

    // The folder the profile is kept in ($XDG_CONFIG_HOME/VGL), beside which
    // the monitor link keeps the client's identity and the trusted monitors.
    // Needs no application object: the command line asks before one exists.
    static QString ConfigFolder();
    static QString IdentityPath();       // identity.pem
    static QString KnownMonitorsPath();  // known_monitors
    // Hands both paths to the monitor link; done once at start.
    static void InstallTlsSettings();
};
