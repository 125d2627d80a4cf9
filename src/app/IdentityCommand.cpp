#include "app/IdentityCommand.h"

#include <string>

#include "app/CommandLine.h"
#include "core/monitor/MonHostForm.h"
#include "core/monitor/MonIdentity.h"
#include "core/monitor/MonKnownMonitors.h"
#include "gui/framework/ProfileSettings.h"

bool IdentityCommand::Fingerprint(QString& fingerprint, QString& message) {
    std::string value;
    std::string error;
    if (!Mon_LoadOrMakeClientIdentity(ProfileSettings::IdentityPath().toStdString(), value,
                                      error)) {
        message = QString::fromStdString(error);
        return false;
    }
    fingerprint = QString::fromStdString(value);
    return true;
}

bool IdentityCommand::PinTrusted(const VGLCommandLine& commandLine, QString& message) {
    if (commandLine.m_Trust.isEmpty()) return true;
    const MonKnownMonitors known(ProfileSettings::KnownMonitorsPath().toStdString());
    for (const QString& host : commandLine.m_ConnectHosts) {
        MonHostForm form;
        if (!Mon_ParseHostForm(host.trimmed().toStdString(), form) ||
            form.m_Route != MonRoute::Tls) {
            continue;
        }
        std::string error;
        if (!known.Add(Mon_MonitorKey(form), commandLine.m_Trust.toStdString(), error)) {
            message = QStringLiteral("--trust %1: %2").arg(host, QString::fromStdString(error));
            return false;
        }
    }
    return true;
}
