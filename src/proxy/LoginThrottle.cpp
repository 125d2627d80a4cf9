#include "LoginThrottle.h"

#include <algorithm>

namespace {

constexpr size_t Kept = 10000;

}  // namespace

std::chrono::milliseconds LoginThrottle::Delay(const Address16& client, TimePoint now) {
    std::lock_guard lock(m_Mutex);
    const auto found = m_Failures.find(ClientKey(client));
    if (found == m_Failures.end()) return {};
    if (now - found->second.m_Last >= Forget) {
        m_Failures.erase(found);
        return {};
    }
    const unsigned doublings = std::min(found->second.m_Count - 1, 8u);
    return std::min(MaxDelay, FirstDelay * (1u << doublings));
}

void LoginThrottle::Failed(const Address16& client, TimePoint now) {
    std::lock_guard lock(m_Mutex);
    if (m_Failures.size() > Kept) {
        std::erase_if(m_Failures,
                      [now](const auto& item) { return now - item.second.m_Last >= Forget; });
    }
    Failures& failures = m_Failures[ClientKey(client)];
    ++failures.m_Count;
    failures.m_Last = now;
}

void LoginThrottle::Succeeded(const Address16& client) {
    std::lock_guard lock(m_Mutex);
    m_Failures.erase(ClientKey(client));
}
