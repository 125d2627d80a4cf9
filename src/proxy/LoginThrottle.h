#pragma once
// Slows down an address that keeps offering wrong passwords: every password
// it sends waits before it is checked, twice as long after each failure, up
// to a limit. Other addresses are not touched, and the pool that checks
// passwords is spared the flood. Forgotten after a quiet spell or a success.

#include <chrono>
#include <mutex>
#include <unordered_map>

#include "ClientKey.h"

class LoginThrottle {
public:
    static constexpr std::chrono::milliseconds FirstDelay{250};
    static constexpr std::chrono::milliseconds MaxDelay{4000};
    static constexpr std::chrono::minutes Forget{10};

    using TimePoint = std::chrono::steady_clock::time_point;

    // `now` is left to its default but where a test drives the time.
    std::chrono::milliseconds Delay(const Address16& client,
                                    TimePoint now = std::chrono::steady_clock::now());
    void Failed(const Address16& client, TimePoint now = std::chrono::steady_clock::now());
    void Succeeded(const Address16& client);

private:
    struct Failures {
        unsigned m_Count = 0;
        TimePoint m_Last;
    };

    std::mutex m_Mutex;
    std::unordered_map<Address16, Failures, Address16Hash> m_Failures;
};
