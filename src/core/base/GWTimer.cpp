#include "core/base/GWTimer.h"

#include <cstddef>
#include <unordered_map>

#include "core/base/Trace.h"

namespace {

SystemTimer*& InstalledSystemTimer() {
    static SystemTimer* timer = nullptr;
    return timer;
}

// One map for every timer object: the system hands TimerProc only the id.
std::unordered_map<uint32_t, GWTimer*>& TimerMap() {
    static std::unordered_map<uint32_t, GWTimer*> map;
    return map;
}

}  // namespace

GWTimer::GWTimer() = default;

GWTimer::~GWTimer() {
    SystemTimer* system = InstalledSystemTimer();
    if (m_TimerId > 0 && system != nullptr) system->Kill(m_TimerId);
    // No tick may reach this object once it is gone, whatever ids it held.
    std::erase_if(TimerMap(), [this](const auto& item) { return item.second == this; });
}

void GWTimer::UseSystemTimer(SystemTimer* timer) {
    InstalledSystemTimer() = timer;
}

void GWTimer::EnsureSystemTimer() {
    if (m_TimerId >= 0) return;  // running, or refused by the system until the list empties
    SystemTimer* system = InstalledSystemTimer();
    const int32_t id = system != nullptr ? system->Create(m_Interval) : 0;
    m_TimerId = id > 0 ? id : 0;
    if (m_TimerId > 0) TimerMap()[static_cast<uint32_t>(m_TimerId)] = this;
}

void GWTimer::AddClient(TimerClient client, int32_t a_OnOff) {
    if (a_OnOff == 1) {
        EnsureSystemTimer();
        client.m_OnOff = 1;
    } else {
        if (a_OnOff != 0) GW_TRACE("a_OnOff in Set(..) invalid");
        client.m_OnOff = 0;  // an unknown state is kept off: it starts no timer and never fires
    }
    client.m_Count = 0;
    client.m_Serial = ++m_LastSerial;
    m_Clients.push_back(client);
}

void GWTimer::Set(int32_t period, TimerCallback function, uintptr_t value, int32_t a_OnOff) {
    TimerClient client;
    client.m_pFunction = function;
    client.m_Param = value;
    client.m_ClientType = ClientFunction;
    client.m_Period = period;
    AddClient(client, a_OnOff);
}

void GWTimer::Set(int32_t period, TimerWindow* window, uintptr_t value, int32_t a_OnOff) {
    TimerClient client;
    client.m_pWindow = window;
    client.m_Param = value;
    client.m_ClientType = ClientWindow;
    client.m_Period = period;
    AddClient(client, a_OnOff);
}

void GWTimer::Reset(int32_t period, TimerCallback function, uintptr_t value) {
    for (auto it = m_Clients.begin(); it != m_Clients.end(); ++it) {
        // A window client's target is its window, which is never a function.
        if (it->m_ClientType != ClientWindow && it->m_pFunction == function &&
            it->m_Period == period && it->m_Param == value) {
            m_Clients.erase(it);
            if (m_Clients.empty()) {
                SystemTimer* system = InstalledSystemTimer();
                if (m_TimerId > 0 && system != nullptr) system->Kill(m_TimerId);
                m_TimerId = -1;
            }
            return;
        }
    }
    GW_TRACE("Didn't find the specified timer client to reset");
}

void GWTimer::TimerProc(int32_t timerId) {
    auto& map = TimerMap();
    auto found = map.find(static_cast<uint32_t>(timerId));
    if (found == map.end()) return;
    found->second->Tick();
}

void GWTimer::Tick() {
    // The length is read again at every step: a callback may run a nested
    // tick (a modal message box dispatches timer messages) or change the list.
    size_t index = 0;
    while (index < m_Clients.size()) {
        TimerClient& client = m_Clients[index];
        if (client.m_OnOff != 1 || ++client.m_Count != client.m_Period) {
            ++index;
            continue;
        }
        const bool isWindow = client.m_ClientType == ClientWindow;
        const bool isFunction = client.m_ClientType == ClientFunction;
        if (!isWindow && !isFunction) {
            GW_TRACE("TimerClient m_ClientType invalid");
            m_Clients.erase(m_Clients.begin() + static_cast<ptrdiff_t>(index));
            continue;  // the client that moved up is visited in this same tick
        }
        if ((isWindow && client.m_pWindow == nullptr) ||
            (isFunction && client.m_pFunction == nullptr)) {
            GW_TRACE("TimerClient m_pClient invalid");
            m_Clients.erase(m_Clients.begin() + static_cast<ptrdiff_t>(index));
            continue;
        }
        // The count restarts only once the target has returned: ticks that a
        // target running a modal loop lets through count past the period and
        // so never call it again from inside itself.
        const uintptr_t param = client.m_Param;
        const uint64_t serial = client.m_Serial;
        if (isWindow) {
            client.m_pWindow->PostTimer(param);
        } else {
            client.m_pFunction(param);
        }
        RestartCount(serial);  // the target may have moved the record, or removed it
        ++index;
    }
}

void GWTimer::RestartCount(uint64_t serial) {
    for (TimerClient& client : m_Clients) {
        if (client.m_Serial == serial) {
            client.m_Count = 0;
            return;
        }
    }
}
