#include "SessionRegistry.h"

#include <vector>

void SessionRegistry::Add(const void* session, Closer close) {
    std::lock_guard lock(m_Mutex);
    m_Closers[session] = std::move(close);
}

void SessionRegistry::Remove(const void* session) {
    std::lock_guard lock(m_Mutex);
    m_Closers.erase(session);
}

void SessionRegistry::CloseAll() {
    std::vector<Closer> closers;
    {
        std::lock_guard lock(m_Mutex);
        for (auto& [session, close] : m_Closers) closers.push_back(close);
    }
    for (const Closer& close : closers) close();
}
