#include "ClientLimits.h"

namespace {

constexpr std::chrono::minutes ReportEvery{1};
// Past this many addresses, the ones quiet for a minute are forgotten.
constexpr size_t ReportedKept = 10000;

}  // namespace

ClientLimits::Verdict ClientLimits::Enter(const Address16& client, size_t maxConnections,
                                          size_t maxHandshakes) {
    std::lock_guard lock(m_Mutex);
    Counts& counts = m_Counts[ClientKey(client)];
    if (counts.m_Connections >= maxConnections) return Verdict::TooManyConnections;
    if (counts.m_Handshakes >= maxHandshakes) return Verdict::TooManyHandshakes;
    ++counts.m_Connections;
    ++counts.m_Handshakes;
    return Verdict::Admitted;
}

void ClientLimits::HandshakeDone(const Address16& client) {
    std::lock_guard lock(m_Mutex);
    --m_Counts[ClientKey(client)].m_Handshakes;
}

void ClientLimits::Leave(const Address16& client, bool inHandshake) {
    std::lock_guard lock(m_Mutex);
    const auto found = m_Counts.find(ClientKey(client));
    if (found == m_Counts.end()) return;
    --found->second.m_Connections;
    if (inHandshake) --found->second.m_Handshakes;
    if (found->second.m_Connections == 0) m_Counts.erase(found);
}

bool ClientLimits::ShouldReport(const Address16& client) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_Mutex);
    if (m_Reported.size() > ReportedKept) {
        std::erase_if(m_Reported,
                      [now](const auto& item) { return now - item.second.m_Last >= ReportEvery; });
    }
    const auto [at, added] = m_Reported.try_emplace(ClientKey(client));
    Reported& reported = at->second;
    if (!added && now - reported.m_Last < ReportEvery) return false;
    reported = {now};
    return true;
}
