#pragma once
// One line of Dante's log, read for what a monitor reports. With
// "log: connect disconnect error" in its socks rules Dante writes, per
// session, an open line when the connection to the destination stands:
//   ... danted[PID]: info: pass(2): tcp/connect [: username%alice@CLIENT PROXY -> EXTERNAL DEST
// and a close line with the bytes of each leg, the reason and the duration:
//   ... tcp/connect ]: 5000 -> CLIENT PROXY -> 78, 78 -> EXTERNAL DEST -> 5000: remote peer closed.
//   Session duration: 3s
// A destination that refuses the connection gets only the close line; a
// rule that blocks it, a "block(N): tcp/connect ]:" line; a failed login, a
// "block(N): tcp/accept ]:" line that names the user. Endpoints are written
// ADDRESS.PORT (IPv6 too); a destination may be a NAME.PORT.
// File lines carry "(SECONDS.MICROS)" after the syslog-style time; lines
// from the journal are given that form by their reader.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/monitor/MonStream.h"

struct DanteLine {
    enum class Kind {
        Other,       // not about a TCP session: ignored
        Unreadable,  // about a session, but not in a form we can read
        Open,
        Close,
        Blocked,  // refused by a rule: no session was made
        LoginFailed,
    };

    Kind m_Kind = Kind::Other;
    uint32_t m_Time = 0;  // seconds since 1970; 0 when the line has none
    uint32_t m_Pid = 0;
    uint8_t m_Method = 0;  // as SOCKS5 numbers it: 0 none, 1 GSSAPI, 2 user name and password
    std::string m_User;
    MonNetAddress m_Client{}, m_Proxy{}, m_External{}, m_Dest{};  // with their ports
    std::string m_DestName;  // the destination as the line names it, address or name
    uint16_t m_DestPort = 0;
    // Of the external leg, as Dante counted them at the close: from the
    // destination (toward the client), and toward the destination.
    uint64_t m_BytesIn = 0, m_BytesOut = 0;
    uint32_t m_Seconds = 0;  // the session's duration
    std::string m_Reason;    // "remote peer closed", "remote peer error (Connection refused)", ...
    // What names the session in both its lines: the client's and the
    // external endpoint's texts.
    std::string m_Key;
};

DanteLine ParseDanteLine(std::string_view line);
