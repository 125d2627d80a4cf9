#pragma once
// Ends what its owner is doing once a deadline has passed. The owner tells it
// the deadline through a function asked at every wake, so moving a deadline
// later costs nothing; Poke() wakes it to pick up one that moved earlier.

#include <functional>

#include "Asio.h"

class Watchdog {
public:
    using DeadlineFunction = std::function<Clock::time_point()>;

    explicit Watchdog(const asio::any_io_executor& executor) : m_Timer(executor) {}

    // Calls onExpire once and returns when the deadline passes, or returns on Stop().
    awaitable<void> Run(DeadlineFunction deadline, std::function<void()> onExpire);
    void Poke() { m_Timer.cancel(); }
    // The same only when `deadline` comes before the one it waits for: a
    // wake costs a timer change and a turn of the loop.
    void Poke(Clock::time_point deadline) {
        if (deadline < m_Timer.expiry()) m_Timer.cancel();
    }
    void Stop() {
        m_bStopped = true;
        m_Timer.cancel();
    }

private:
    asio::steady_timer m_Timer;
    bool m_bStopped = false;
};
