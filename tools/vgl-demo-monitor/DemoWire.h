#pragma once
// Record bodies of the monitor protocol as the demo monitor sends them:
// big-endian integers, a fixed part per kind, then a variable area that the
// StringRefs (2-byte length, 2-byte offset from the area's start) point into.

#include <cstdint>
#include <string>
#include <vector>

namespace demo {

using Body = std::vector<uint8_t>;

// 16-byte IPv4 socket address: family, port and address in network order.
struct SockAddr {
    uint32_t m_Ip = 0;  // host order; 0 means "not sent"
    uint16_t m_Port = 0;
};

struct OpenFields {
    uint8_t m_Auth = 0;
    uint32_t m_StartTime = 0;
    std::string m_User;
    SockAddr m_Source;
    std::string m_SourceName;
};

struct UpdateFields {
    uint32_t m_TrafficIn = 0;
    uint32_t m_TrafficOut = 0;
    std::string m_Service;
    SockAddr m_NextServer;
    std::string m_NextServerName;
    SockAddr m_Dest;
    std::string m_DestName;
};

Body WireOpen(uint32_t idHigh, uint32_t idLow, const OpenFields& fields);
Body WireUpdate(uint32_t idHigh, uint32_t idLow, const UpdateFields& fields);
Body WireResult(uint32_t idHigh, uint32_t idLow, uint32_t code, const std::string& text);
Body WireClose(uint32_t idHigh, uint32_t idLow);

// Appends the 2-byte big-endian length and the body.
void AppendFrame(Body& out, const Body& body);

}  // namespace demo
