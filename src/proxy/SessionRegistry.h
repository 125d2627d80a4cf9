#pragma once
// The sessions that are open, so that a stop can end the ones that do not
// end by themselves within the grace period.

#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

class SessionRegistry {
public:
    using Closer = std::function<void()>;

    // `close` must be safe to call from any thread.
    void Add(const void* session, Closer close);
    void Remove(const void* session);
    void CloseAll();

private:
    std::mutex m_Mutex;
    std::unordered_map<const void*, Closer> m_Closers;
};
