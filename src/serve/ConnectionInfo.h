#pragma once
// What the monitor reports of one proxied connection. The session that owns
// the connection writes it; monitor clients read it from their own threads,
// so the byte counts are atomic and the destination sits behind a lock.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "Asio.h"
#include "core/monitor/MonEncode.h"
#include "core/monitor/MonNetAddress.h"

class ConnectionInfo {
public:
    struct Destination {
        std::string m_Service;
        std::string m_Name;
        MonNetAddress m_Addr{};  // with its port; family 0 while not known
        uint32_t m_Version = 0;  // grows with every change
    };

    // Fixed once the client has authenticated, before the hub is told.
    uint32_t m_Id = 0;
    uint32_t m_StartTime = 0;
    uint8_t m_Method = 0;
    std::string m_User;
    MonNetAddress m_Source{};  // the client's endpoint
    std::string m_SourceName;
    // Set before the hub is told of the result.
    uint32_t m_ResultCode = 0;
    std::string m_ResultText;
    // The end time in seconds since 1970, sent as the close record's close
    // value: set by the hub, under its lock, when it is told of the close,
    // unless the one who closes it knows the time better.
    uint32_t m_EndTime = 0;

    std::atomic<uint64_t> m_BytesIn{0};   // destination toward client
    std::atomic<uint64_t> m_BytesOut{0};  // client toward destination

    // `name`: the one the client asked for, address or host name.
    void SetDestination(std::string service, std::string name, const MonNetAddress& addr) {
        std::lock_guard lock(m_Mutex);
        m_Dest.m_Service = std::move(service);
        m_Dest.m_Name = std::move(name);
        m_Dest.m_Addr = addr;
        ++m_Dest.m_Version;
    }
    void SetDestAddress(const MonNetAddress& addr) {
        std::lock_guard lock(m_Mutex);
        m_Dest.m_Addr = addr;
        ++m_Dest.m_Version;
    }
    Destination GetDestination() const {
        std::lock_guard lock(m_Mutex);
        return m_Dest;
    }

private:
    mutable std::mutex m_Mutex;
    Destination m_Dest;
};

// An endpoint as the records carry it, an IPv4-mapped address as IPv4.
MonNetAddress MonitorAddress(const tcp::endpoint& endpoint);
// The first version's 16-byte socket address: IPv4 only, others go by name
// (empty).
MonBytes MonitorSockAddr(const MonNetAddress& address);
// The IPv4 address of an IPv4-mapped IPv6 one; others as they are.
asio::ip::address Unmapped(const asio::ip::address& address);
