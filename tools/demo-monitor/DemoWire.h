#pragma once
// The demo's simulated connections as monitor records: the fields the demo
// keeps per connection, put on the wire by the project's encoder
// (link/MonEncode.h) with texts cut to what the client keeps.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/monitor/MonEncode.h"

namespace demo {

using Body = MonBytes;

// An IPv4 socket address; an address of 0 is not sent.
struct SockAddr {
    uint32_t m_Ip = 0;  // host order
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
// The close value is the end time, in seconds since 1970.
Body WireClose(uint32_t idHigh, uint32_t idLow, uint32_t endTime);

// A record made by the functions above in the version of the records the
// client negotiated: itself for version 1; for version 2 the same fields in
// the second version's kinds (times and totals as the first version has them).
Body WireForVersion(int version, const Body& record);

// Records framed for the wire in the first version, each a 2-byte length and
// the body: framed once and then written to every client that gets them.
struct Frames {
    Body m_Bytes;
    size_t m_Records = 0;
    // The same records in the second version, made for the first client
    // that asks for them and kept for the others.
    mutable std::shared_ptr<const Frames> m_pSecondVersion;

    void Append(const Body& record);
};
using SharedFrames = std::shared_ptr<const Frames>;

SharedFrames FrameRecords(const std::vector<Body>& records);
// The same records framed in the version of the records the client negotiated.
SharedFrames FramesForVersion(int version, const SharedFrames& frames);

}  // namespace demo
