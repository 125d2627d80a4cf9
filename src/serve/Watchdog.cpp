#include "Watchdog.h"

awaitable<void> Watchdog::Run(DeadlineFunction deadline, std::function<void()> onExpire) {
    while (!m_bStopped) {
        const Clock::time_point when = deadline();
        if (Clock::now() >= when) {
            onExpire();
            co_return;
        }
        m_Timer.expires_at(when);
        std::error_code ignored;
        co_await m_Timer.async_wait(NoThrow(ignored));
    }
}
