#pragma once
// A rule the user writes for the alerts: what to watch on every server and
// the threshold that makes it fire. A rule fires at most once per server (or
// per client address or user, where it counts those apart) in each quiet
// interval, so that a burst gives one notification and not a storm.

#include <cstdint>
#include <string>
#include <vector>

enum class AlertKind {
    ServerLost,    // the monitor was lost, and when it is back
    FailedLogins,  // more than m_Threshold failed logins a minute
    UserRate,      // a user moves more than m_Threshold bytes a second for m_Minutes
    UserVolume,    // a user moves more than m_Threshold bytes in a day (or a month)
    FilterCount    // more than m_Threshold connections meet m_Filter within m_Minutes
};

struct AlertRule {
    AlertKind m_Kind = AlertKind::ServerLost;
    std::string m_Name;
    bool m_bEnabled = true;
    double m_Threshold = 0;
    int m_Minutes = 1;
    bool m_bPerClient = false;  // FailedLogins: counted per client address
    bool m_bMonthly = false;    // UserVolume: the quota is a month's
    std::string m_Filter;       // FilterCount: a line of the grid's filter

    // "server lost", "failed logins", ...: the kind as the rules' list names it.
    static const char* KindName(AlertKind kind);
    // What the rule watches, in words: "more than 10 failed logins a minute per client".
    std::string Describe() const;
    // Empty when the rule can be kept, else why not ("The threshold must be above 0.").
    std::string Problem() const;
};

// The rules a new user starts with: the loss of a server and a burst of failed logins.
std::vector<AlertRule> DefaultAlertRules();

// Bytes as the rules and the alerts say them: "1.5 GB", "200 kB", "12 B".
std::string AlertBytesText(double bytes);
