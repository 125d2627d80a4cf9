#include "gui/framework/ProfileSettings.h"

#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <algorithm>

#include "core/history/HistoryRetention.h"
#include "core/monitor/MonTls.h"

namespace {

const QString RecentFilesKey = QStringLiteral("Recent File List/Files");
const QString SessionDefaultsKey = QStringLiteral("Session/Defaults");
const QString HistoryEnabledKey = QStringLiteral("History/Enabled");
const QString HistoryKeepDaysKey = QStringLiteral("History/KeepDays");
const QString HistoryMaxMiBKey = QStringLiteral("History/MaxMiB");

}  // namespace

QStringList ProfileSettings::RecentFiles() {
    return QSettings().value(RecentFilesKey).toStringList();
}

void ProfileSettings::SetRecentFiles(const QStringList& files) {
    QSettings().setValue(RecentFilesKey, files);
}

QByteArray ProfileSettings::SessionDefaults() {
    return QSettings().value(SessionDefaultsKey).toByteArray();
}

void ProfileSettings::SetSessionDefaults(const QByteArray& json) {
    QSettings().setValue(SessionDefaultsKey, json);
}

bool ProfileSettings::HistoryEnabled() {
    return QSettings().value(HistoryEnabledKey, true).toBool();
}

int ProfileSettings::HistoryKeepDays() {
    return std::max(MinHistoryDays,
                    QSettings().value(HistoryKeepDaysKey, DefaultHistoryDays).toInt());
}

int ProfileSettings::HistoryMaxMiB() {
    return std::max(MinHistoryMiB, QSettings().value(HistoryMaxMiBKey, DefaultHistoryMiB).toInt());
}

void ProfileSettings::SetHistory(bool enabled, int keepDays, int maxMiB) {
    QSettings settings;
    settings.setValue(HistoryEnabledKey, enabled);
    settings.setValue(HistoryKeepDaysKey, keepDays);
    settings.setValue(HistoryMaxMiBKey, maxMiB);
}

QByteArray ProfileSettings::AlertRules() {
    return QSettings().value(QStringLiteral("Alerts/Rules")).toByteArray();
}

int ProfileSettings::AlertQuietMinutes() {
    return std::max(1, QSettings().value(QStringLiteral("Alerts/QuietMinutes"), 15).toInt());
}

bool ProfileSettings::CloseToTray() {
    return QSettings().value(QStringLiteral("Alerts/CloseToTray"), false).toBool();
}

void ProfileSettings::SetAlerts(const QByteArray& rules, int quietMinutes, bool closeToTray) {
    QSettings settings;
    settings.setValue(QStringLiteral("Alerts/Rules"), rules);
    settings.setValue(QStringLiteral("Alerts/QuietMinutes"), quietMinutes);
    settings.setValue(QStringLiteral("Alerts/CloseToTray"), closeToTray);
}

// QSettings names the file from the organisation: asking it with the names
// spelt out gives the same folder before the application names itself.
QString ProfileSettings::ConfigFolder() {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("VGL"),
                             QStringLiteral("VGL"));
    return QFileInfo(settings.fileName()).absolutePath();
}

QString ProfileSettings::IdentityPath() {
    return ConfigFolder() + QStringLiteral("/identity.pem");
}

QString ProfileSettings::KnownMonitorsPath() {
    return ConfigFolder() + QStringLiteral("/known_monitors");
}

void ProfileSettings::InstallTlsSettings() {
    Mon_TlsSetSettings({IdentityPath().toStdString(), KnownMonitorsPath().toStdString()});
}
