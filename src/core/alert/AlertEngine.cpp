#include "core/alert/AlertEngine.h"

#include <ctime>

#include "core/view/ConnectionFilter.h"

std::string AlertPeriodOf(int64_t time, bool monthly) {
    const std::time_t seconds = static_cast<std::time_t>(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[16];
    std::strftime(text, sizeof text, monthly ? "%Y-%m" : "%Y-%m-%d", &parts);
    return text;
}

void AlertEngine::SetRules(std::vector<AlertRule> rules) {
    m_Rules = std::move(rules);
    m_Watches.clear();
    m_LostTold.clear();
}

std::vector<std::string> AlertEngine::FilterLines() const {
    std::vector<std::string> lines;
    for (const AlertRule& rule : m_Rules) {
        if (rule.m_Kind == AlertKind::FilterCount) lines.push_back(rule.m_Filter);
    }
    return lines;
}

bool AlertEngine::CountsUsers() const {
    for (const AlertRule& rule : m_Rules) {
        const bool users =
            rule.m_Kind == AlertKind::UserRate || rule.m_Kind == AlertKind::UserVolume;
        if (users && rule.m_bEnabled) return true;
    }
    return false;
}

// True while the watch is in the quiet interval of its last firing; else it
// fires now.
bool AlertEngine::Quiet(Watch& watch, int64_t now) {
    if (watch.m_LastFired >= 0 && now - watch.m_LastFired < m_QuietSeconds) return true;
    watch.m_LastFired = now;
    return false;
}

AlertFiring AlertEngine::Fire(size_t rule, const std::string& server, int64_t now, std::string what,
                              std::string filter) const {
    return AlertFiring{now, m_Rules[rule].m_Name, server, std::move(what), std::move(filter)};
}

std::vector<AlertFiring> AlertEngine::ServerLost(const std::string& server, const std::string& why,
                                                 int64_t now) {
    std::vector<AlertFiring> out;
    for (size_t i = 0; i < m_Rules.size(); ++i) {
        const AlertRule& rule = m_Rules[i];
        if (!rule.m_bEnabled || rule.m_Kind != AlertKind::ServerLost) continue;
        if (Quiet(m_Watches[{i, server, std::string()}], now)) continue;
        m_LostTold[{i, server}] = true;
        out.push_back(Fire(i, server, now, why.empty() ? "Lost" : "Lost: " + why));
    }
    return out;
}

std::vector<AlertFiring> AlertEngine::ServerBack(const std::string& server, int64_t now) {
    std::vector<AlertFiring> out;
    for (size_t i = 0; i < m_Rules.size(); ++i) {
        const auto told = m_LostTold.find({i, server});
        if (told == m_LostTold.end()) continue;
        m_LostTold.erase(told);
        if (m_Rules[i].m_bEnabled) out.push_back(Fire(i, server, now, "Back"));
    }
    return out;
}

std::vector<AlertFiring> AlertEngine::Polled(const std::string& server, const PollActivity& poll) {
    std::vector<AlertFiring> out;
    size_t filter = 0;
    for (size_t i = 0; i < m_Rules.size(); ++i) {
        const AlertRule& rule = m_Rules[i];
        const bool enabled = rule.m_bEnabled;
        switch (rule.m_Kind) {
            case AlertKind::ServerLost:
                break;
            case AlertKind::FailedLogins:
                if (enabled) FailedLogins(i, server, poll, out);
                break;
            case AlertKind::UserRate:
                if (enabled) UserRate(i, server, poll, out);
                break;
            case AlertKind::UserVolume:
                if (enabled) UserVolume(i, server, poll, out);
                break;
            case AlertKind::FilterCount:
                if (enabled) FilterCount(i, filter, server, poll, out);
                ++filter;
                break;
        }
    }
    return out;
}

void AlertEngine::FailedLogins(size_t rule, const std::string& server, const PollActivity& poll,
                               std::vector<AlertFiring>& out) {
    const AlertRule& r = m_Rules[rule];
    std::map<std::string, size_t> counts;  // per client, or all under ""
    for (const std::string& client : poll.m_FailedLogins) ++counts[r.m_bPerClient ? client : ""];
    // Every subject's window moves on, also those that failed no login now.
    for (auto& [key, watch] : m_Watches) {
        if (std::get<0>(key) == rule && std::get<1>(key) == server)
            counts.try_emplace(std::get<2>(key), 0);
    }
    for (const auto& [client, count] : counts) {
        Watch& watch = m_Watches[{rule, server, client}];
        for (size_t i = 0; i < count; ++i) watch.m_Times.push_back(poll.m_Time);
        while (!watch.m_Times.empty() && watch.m_Times.front() <= poll.m_Time - 60) {
            watch.m_Times.pop_front();
        }
        if (static_cast<double>(watch.m_Times.size()) <= r.m_Threshold || count == 0) continue;
        if (Quiet(watch, poll.m_Time)) continue;
        std::string what = std::to_string(watch.m_Times.size()) + " failed logins in a minute";
        std::string filter = "result:" + std::to_string(FailedLoginResult);
        if (!client.empty()) {
            what += " from " + client;
            filter += " " + ConnectionFilter::ExactTerm("src", client);
        }
        out.push_back(Fire(rule, server, poll.m_Time, std::move(what), std::move(filter)));
        out.back().m_bFailed = true;
    }
}

void AlertEngine::UserRate(size_t rule, const std::string& server, const PollActivity& poll,
                           std::vector<AlertFiring>& out) {
    if (poll.m_Seconds <= 0) return;
    const AlertRule& r = m_Rules[rule];
    // A user who moved nothing in this poll is below every rate.
    for (auto& [key, watch] : m_Watches) {
        if (std::get<0>(key) != rule || std::get<1>(key) != server) continue;
        if (poll.m_UserBytes.count(std::get<2>(key)) == 0) watch.m_OverSince = -1;
    }
    for (const auto& [user, bytes] : poll.m_UserBytes) {
        Watch& watch = m_Watches[{rule, server, user}];
        const double rate = static_cast<double>(bytes) / static_cast<double>(poll.m_Seconds);
        if (rate <= r.m_Threshold) {
            watch.m_OverSince = -1;
            continue;
        }
        if (watch.m_OverSince < 0) watch.m_OverSince = poll.m_Time - poll.m_Seconds;
        if (poll.m_Time - watch.m_OverSince < int64_t{r.m_Minutes} * 60) continue;
        if (Quiet(watch, poll.m_Time)) continue;
        out.push_back(Fire(rule, server, poll.m_Time,
                           user + " moves " + AlertBytesText(rate) + "/s for " +
                               std::to_string((poll.m_Time - watch.m_OverSince) / 60) + " min",
                           ConnectionFilter::ExactTerm("user", user)));
    }
}

void AlertEngine::UserVolume(size_t rule, const std::string& server, const PollActivity& poll,
                             std::vector<AlertFiring>& out) {
    const AlertRule& r = m_Rules[rule];
    const std::string period = AlertPeriodOf(poll.m_Time, r.m_bMonthly);
    for (const auto& [user, bytes] : poll.m_UserBytes) {
        Watch& watch = m_Watches[{rule, server, user}];
        if (watch.m_Period != period) {
            // A new day or month: a new quota, which may be told of again.
            watch.m_Period = period;
            watch.m_Volume = 0;
            watch.m_LastFired = -1;
        }
        const bool wasOver = static_cast<double>(watch.m_Volume) > r.m_Threshold;
        watch.m_Volume += bytes;
        if (wasOver || static_cast<double>(watch.m_Volume) <= r.m_Threshold) continue;
        if (Quiet(watch, poll.m_Time)) continue;
        out.push_back(Fire(rule, server, poll.m_Time,
                           user + " moved " + AlertBytesText(static_cast<double>(watch.m_Volume)) +
                               (r.m_bMonthly ? " this month" : " today") + ", over " +
                               AlertBytesText(r.m_Threshold),
                           ConnectionFilter::ExactTerm("user", user)));
    }
}

void AlertEngine::FilterCount(size_t rule, size_t filter, const std::string& server,
                              const PollActivity& poll, std::vector<AlertFiring>& out) {
    const AlertRule& r = m_Rules[rule];
    Watch& watch = m_Watches[{rule, server, std::string()}];
    const uint32_t matches = filter < poll.m_Matches.size() ? poll.m_Matches[filter] : 0;
    for (uint32_t i = 0; i < matches; ++i) watch.m_Times.push_back(poll.m_Time);
    const int64_t window = int64_t{r.m_Minutes} * 60;
    while (!watch.m_Times.empty() && watch.m_Times.front() <= poll.m_Time - window) {
        watch.m_Times.pop_front();
    }
    if (matches == 0 || static_cast<double>(watch.m_Times.size()) <= r.m_Threshold) return;
    if (Quiet(watch, poll.m_Time)) return;
    out.push_back(Fire(rule, server, poll.m_Time,
                       std::to_string(watch.m_Times.size()) + " connections in " +
                           std::to_string(r.m_Minutes) + " min meet " + r.m_Filter,
                       r.m_Filter));
}
