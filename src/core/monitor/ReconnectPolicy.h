#pragma once
// How long a session that lost its monitor waits before each new attempt:
// 5 s, then twice the wait before, never more than the update period (and
// never less than the first wait), so a monitor that comes back is polled
// again within one period without a dead one being asked every few seconds.

class ReconnectPolicy {
public:
    static constexpr int FirstDelaySeconds = 5;

    // The next attempt is the first one again (after a success or a Disconnect).
    void Reset() { m_DelaySeconds = 0; }
    // The wait before the next attempt, in seconds.
    int NextDelay(int updatePeriodSeconds);

private:
    int m_DelaySeconds = 0;
};
