#pragma once
// Turns what the sessions report into alerts by the user's rules: a firing
// names the rule, the server and what happened, and the filter line that
// chooses the connections behind it. A rule fires once per server (per
// client or user where it counts them apart) in each quiet interval; what
// happens again within it is counted but not told again.

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "core/alert/AlertRule.h"
#include "core/alert/ServerActivity.h"

struct AlertFiring {
    int64_t m_Time = 0;
    std::string m_Rule;
    std::string m_Server;
    std::string m_What;      // "25 failed logins in a minute from 10.0.0.7"
    std::string m_Filter;    // the connections behind it, as a filter line; may be empty
    bool m_bFailed = false;  // those are failed connections (the grid's Show Failed list)
};

class AlertEngine {
public:
    static constexpr int64_t DefaultQuietSeconds = 15 * 60;

    // New rules start from nothing: counts, windows and quiet intervals.
    void SetRules(std::vector<AlertRule> rules);
    const std::vector<AlertRule>& Rules() const { return m_Rules; }
    void SetQuietSeconds(int64_t seconds) { m_QuietSeconds = seconds; }
    int64_t QuietSeconds() const { return m_QuietSeconds; }
    // The filter lines the sessions must count, one per FilterCount rule, in
    // the rules' order (ServerActivity::SetFilters).
    std::vector<std::string> FilterLines() const;
    // A rule on users' rates or volumes is on: the sessions must count each user's bytes.
    bool CountsUsers() const;

    std::vector<AlertFiring> ServerLost(const std::string& server, const std::string& why,
                                        int64_t now);
    std::vector<AlertFiring> ServerBack(const std::string& server, int64_t now);
    std::vector<AlertFiring> Polled(const std::string& server, const PollActivity& poll);

private:
    // The state of one rule on one server, for one client or user ("" for all).
    struct Watch {
        std::deque<int64_t> m_Times;  // events within the rule's window
        int64_t m_OverSince = -1;     // a rate above the rule's since then; -1: not above
        std::string m_Period;         // the day or month m_Volume counts
        uint64_t m_Volume = 0;
        int64_t m_LastFired = -1;
    };
    using WatchKey = std::tuple<size_t, std::string, std::string>;  // rule, server, subject

    bool Quiet(Watch& watch, int64_t now);
    void FailedLogins(size_t rule, const std::string& server, const PollActivity& poll,
                      std::vector<AlertFiring>& out);
    void UserRate(size_t rule, const std::string& server, const PollActivity& poll,
                  std::vector<AlertFiring>& out);
    void UserVolume(size_t rule, const std::string& server, const PollActivity& poll,
                    std::vector<AlertFiring>& out);
    void FilterCount(size_t rule, size_t filter, const std::string& server,
                     const PollActivity& poll, std::vector<AlertFiring>& out);
    AlertFiring Fire(size_t rule, const std::string& server, int64_t now, std::string what,
                     std::string filter = std::string()) const;

    std::vector<AlertRule> m_Rules;
    int64_t m_QuietSeconds = DefaultQuietSeconds;
    std::map<WatchKey, Watch> m_Watches;
    std::map<std::pair<size_t, std::string>, bool> m_LostTold;  // a loss was told: tell its end
};

// The day ("2026-12-09") or month ("2026-12") of a time, in UTC.
std::string AlertPeriodOf(int64_t time, bool monthly);
