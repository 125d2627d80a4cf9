#pragma once
// Turns one system timer into many periodic clients: each client names a
// period in whole ticks of the base interval (1000 ms) and fires every time
// it has counted that many ticks.

#include <cstdint>
#include <vector>

using TimerCallback = int (*)(uintptr_t value);

// The system timer. The application's is a QTimer; tests tick by hand.
struct SystemTimer {
    virtual int32_t Create(uint32_t intervalMs) = 0;  // returns an id > 0, or 0 on failure
    virtual void Kill(int32_t id) = 0;
};

// A window client: anything that can take a posted timer message.
struct TimerWindow {
    virtual void PostTimer(uintptr_t param) = 0;
};

class GWTimer {
public:
    GWTimer();
    ~GWTimer();
    GWTimer(const GWTimer&) = delete;
    GWTimer& operator=(const GWTimer&) = delete;

    void Set(int32_t period, TimerCallback function, uintptr_t value, int32_t a_OnOff);
    void Set(int32_t period, TimerWindow* window, uintptr_t value, int32_t a_OnOff);
    void Reset(int32_t period, TimerCallback function, uintptr_t value);
    static void TimerProc(int32_t timerId);          // what the system timer calls once per interval
    static void UseSystemTimer(SystemTimer* timer);  // installed once by the application or a test

    enum ClientType : int32_t { ClientWindow = 0, ClientFunction = 1 };
    struct TimerClient {
        // The target: a window (ClientWindow) or a function (ClientFunction).
        // Two typed fields, since a function pointer does not fit a void*.
        TimerWindow* m_pWindow = nullptr;
        TimerCallback m_pFunction = nullptr;
        uintptr_t m_Param = 0;
        int32_t m_ClientType = ClientFunction;
        int32_t m_Period = 0;
        int32_t m_Count = 0;
        int32_t m_OnOff = 0;
        uint64_t m_Serial = 0;  // tells the record apart from equal ones, wherever it moves
    };

    int32_t TimerId() const { return m_TimerId; }
    const std::vector<TimerClient>& Clients() const { return m_Clients; }

private:
    void EnsureSystemTimer();
    void AddClient(TimerClient client, int32_t a_OnOff);
    void Tick();
    void RestartCount(uint64_t serial);

    int32_t m_TimerId = -1;
    uint32_t m_Interval = 1000;
    std::vector<TimerClient> m_Clients;
    uint64_t m_LastSerial = 0;
};
