#include "RefusalLog.h"

#include <iterator>
#include <utility>

#include "ClientKey.h"

namespace {

// "192.0.2.7", "2001:db8:1:2::/64".
std::string KeyText(const asio::ip::address& address) {
    const Address16 key = ClientKey(ToAddress16(address));
    const asio::ip::address keyAddress = asio::ip::address_v6(key);
    const std::string text = HostText(keyAddress);
    return text.find(':') == std::string::npos ? text : text + "/64";
}

}  // namespace

void RefusalLog::Refused(const std::string& who, const tcp::endpoint& client,
                         const std::string& why) {
    {
        std::lock_guard lock(m_Mutex);
        const std::string key = who + KeyText(client.address()) + " refused: " + why;
        const auto found = m_Keys.find(key);
        if (found != m_Keys.end()) {
            ++found->second.m_Count;
            found->second.m_bRecent = true;
            return;
        }
        if (m_Keys.size() >= MaxKeys) {
            ++m_Others;
            return;
        }
        m_Keys.emplace(key, Counted{});
    }
    m_Log.Connection(who + EndpointText(client) + " refused: " + why);
}

void RefusalLog::Flush() {
    std::lock_guard lock(m_Mutex);
    for (auto at = m_Keys.begin(); at != m_Keys.end();) {
        Counted& counted = at->second;
        if (counted.m_Count != 0) {
            m_Log.Connection(at->first + " (" + std::to_string(counted.m_Count) +
                             " more since the last line)");
        }
        counted.m_Count = 0;
        at = std::exchange(counted.m_bRecent, false) ? std::next(at) : m_Keys.erase(at);
    }
    if (m_Others != 0) {
        m_Log.Connection(std::to_string(m_Others) +
                         " refusals of other clients since the last line");
        m_Others = 0;
    }
}
