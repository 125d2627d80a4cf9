#include "SessionRegistry.h"

#include <vector>

void SessionRegistry::Add(const void* session, Closer close) {
    std::lock_guard lock(m_Mutex);
    m_Sessions[session].m_Close = std::move(close);
}

void SessionRegistry::Known(const void* session, uint32_t id, SessionFacts facts) {
    std::lock_guard lock(m_Mutex);
    const auto found = m_Sessions.find(session);
    if (found == m_Sessions.end()) return;
    found->second.m_Id = id;
    found->second.m_Facts = std::move(facts);
    m_ById[id] = session;
}

void SessionRegistry::Heading(const void* session, const std::string& name,
                              const std::optional<Address16>& address) {
    std::lock_guard lock(m_Mutex);
    const auto found = m_Sessions.find(session);
    if (found == m_Sessions.end()) return;
    found->second.m_Facts.m_DestName = name;
    found->second.m_Facts.m_DestAddress = address;
}

void SessionRegistry::Remove(const void* session) {
    std::lock_guard lock(m_Mutex);
    const auto found = m_Sessions.find(session);
    if (found == m_Sessions.end()) return;
    if (found->second.m_Id != 0) m_ById.erase(found->second.m_Id);
    m_Sessions.erase(found);
}

void SessionRegistry::CloseAll() {
    std::vector<Closer> closers;
    {
        std::lock_guard lock(m_Mutex);
        for (auto& [session, entry] : m_Sessions) closers.push_back(entry.m_Close);
    }
    for (const Closer& close : closers) close({});
}

bool SessionRegistry::Close(uint32_t id, const std::string& why) {
    Closer close;
    {
        std::lock_guard lock(m_Mutex);
        const auto found = m_ById.find(id);
        if (found == m_ById.end()) return false;
        Entry& entry = m_Sessions.at(found->second);
        if (entry.m_bClosing) return false;
        entry.m_bClosing = true;
        close = entry.m_Close;
    }
    close(why);
    return true;
}

size_t SessionRegistry::CloseCovered(const std::function<bool(const SessionFacts&)>& covered,
                                     const std::string& why) {
    std::vector<Closer> closers;
    {
        std::lock_guard lock(m_Mutex);
        for (auto& [session, entry] : m_Sessions) {
            if (entry.m_Id == 0 || entry.m_bClosing || !covered(entry.m_Facts)) continue;
            entry.m_bClosing = true;
            closers.push_back(entry.m_Close);
        }
    }
    for (const Closer& close : closers) close(why);
    return closers.size();
}
