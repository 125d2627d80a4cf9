#pragma once
// A graceful stop: no new connections, open ones get a grace period to
// finish, then they are closed, each writing its log line and its monitor
// close; monitor clients get a moment to collect those closes; then the
// I/O threads end.

#include <functional>

#include "IoPool.h"
#include "ProxyContext.h"

class ProxyStopper {
public:
    static constexpr std::chrono::seconds Grace{5};
    // How long closed connections and monitor clients are waited for after the grace.
    static constexpr std::chrono::seconds Drain{5};

    ProxyStopper(IoPool& pool, ProxyContext& context, std::function<void()> stopAccepting)
        : m_Pool(pool), m_Context(context), m_StopAccepting(std::move(stopAccepting)) {}
    // On the main thread; a second call does nothing.
    void Stop();

private:
    awaitable<void> Run();
    // Waits in short steps until `done` or the time is up; true when done.
    awaitable<bool> WaitUntil(const std::function<bool()>& done, Clock::time_point end);

    IoPool& m_Pool;
    ProxyContext& m_Context;
    std::function<void()> m_StopAccepting;
    bool m_bStopping = false;
};
