#include "core/alert/AlertRule.h"

#include <cstdio>

#include "core/view/ConnectionFilter.h"

const char* AlertRule::KindName(AlertKind kind) {
    switch (kind) {
        case AlertKind::ServerLost:
            return "server lost";
        case AlertKind::FailedLogins:
            return "failed logins";
        case AlertKind::UserRate:
            return "user's rate";
        case AlertKind::UserVolume:
            return "user's volume";
        case AlertKind::FilterCount:
            return "connections matching a filter";
    }
    return "";
}

std::string AlertBytesText(double bytes) {
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1000 && unit < 4) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    if (unit == 0 || bytes >= 100) {
        std::snprintf(text, sizeof text, "%.0f %s", bytes, units[unit]);
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", bytes, units[unit]);
    }
    return text;
}

std::string AlertRule::Describe() const {
    const std::string count = std::to_string(static_cast<long long>(m_Threshold));
    switch (m_Kind) {
        case AlertKind::ServerLost:
            return "the monitor is lost, and when it is back";
        case AlertKind::FailedLogins:
            return "more than " + count + " failed logins a minute" +
                   (m_bPerClient ? " from one client" : "");
        case AlertKind::UserRate:
            return "a user moves more than " + AlertBytesText(m_Threshold) + "/s for " +
                   std::to_string(m_Minutes) + " min";
        case AlertKind::UserVolume:
            return "a user moves more than " + AlertBytesText(m_Threshold) +
                   (m_bMonthly ? " in a month" : " in a day");
        case AlertKind::FilterCount:
            return "more than " + count + " connections in " + std::to_string(m_Minutes) +
                   " min meet " + m_Filter;
    }
    return std::string();
}

std::string AlertRule::Problem() const {
    if (m_Name.empty()) return "The rule needs a name.";
    if (m_Kind == AlertKind::ServerLost) return std::string();
    if (!(m_Threshold > 0)) return "The threshold must be above 0.";
    if ((m_Kind == AlertKind::UserRate || m_Kind == AlertKind::FilterCount) && m_Minutes < 1) {
        return "The period must be at least a minute.";
    }
    if (m_Kind == AlertKind::FilterCount) {
        ConnectionFilter filter;
        if (m_Filter.empty()) return "The rule needs a filter line.";
        if (!filter.SetText(m_Filter)) return "The filter line is not valid: " + filter.Error();
    }
    return std::string();
}

std::vector<AlertRule> DefaultAlertRules() {
    AlertRule lost;
    lost.m_Name = "Server lost";
    AlertRule logins;
    logins.m_Kind = AlertKind::FailedLogins;
    logins.m_Name = "Failed logins";
    logins.m_Threshold = 20;
    return {lost, logins};
}
