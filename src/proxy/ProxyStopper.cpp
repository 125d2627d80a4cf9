#include "ProxyStopper.h"

namespace {

// Stopping is rare and short; looking every 20 ms costs nothing worth a signal.
constexpr std::chrono::milliseconds Step{20};

}  // namespace

void ProxyStopper::Stop() {
    if (m_bStopping) return;
    m_bStopping = true;
    asio::co_spawn(m_Pool.Main(), Run(), asio::detached);
}

awaitable<bool> ProxyStopper::WaitUntil(const std::function<bool()>& done, Clock::time_point end) {
    asio::steady_timer timer(m_Pool.Main());
    std::error_code ignored;
    while (!done() && Clock::now() < end) {
        timer.expires_after(Step);
        co_await timer.async_wait(NoThrow(ignored));
    }
    co_return done();
}

awaitable<void> ProxyStopper::Run() {
    m_StopAccepting();
    const auto open = [this] { return m_Context.m_Active.load(); };
    m_Context.m_Log.Notice("stopping: " + std::to_string(open()) + " open connections get up to " +
                           std::to_string(Grace.count()) + " s to finish");
    const auto none = [&open] { return open() == 0; };
    if (!co_await WaitUntil(none, Clock::now() + Grace)) {
        m_Context.m_Log.Notice("closing " + std::to_string(open()) + " connections");
        m_Context.m_Sessions.CloseAll();
    }
    const Clock::time_point end = Clock::now() + Drain;
    co_await WaitUntil(none, end);
    co_await WaitUntil([this] { return m_Context.m_Hub.AllDelivered(); }, end);
    m_Pool.Stop();
}
