#pragma once
// What every session and the servers share for the life of the process.

#include <atomic>
#include <cstdint>

#include "Asio.h"
#include "MonitorHub.h"
#include "ProxyLog.h"
#include "ProxyOptions.h"
#include "UserFile.h"

struct ProxyContext {
    const ProxyOptions& m_Options;
    const UserFile* m_pUsers;  // null: no password is asked
    MonitorHub& m_Hub;
    const ProxyLog& m_Log;
    asio::thread_pool& m_Blocking;  // name lookups and password checks
    std::atomic<uint32_t> m_NextId{1};
    std::atomic<size_t> m_Active{0};
};
