#pragma once
// The three ways a session reaches a monitor, as the user types them:
//   HOST[:PORT]            plain TCP (the described protocol; MonHostName.h)
//   tls://HOST[:PORT]      TLS required, the monitor's identity pinned
//   ssh://[USER@]HOST[:SSHPORT][/MONITOR-HOST[:PORT]]
//                          plain TCP through a tunnel of the system's ssh;
//                          the monitor host is as the ssh server sees it
//                          (127.0.0.1 unless given)
// HOST may be an IPv6 address, in brackets when a port follows.

#include <cstdint>
#include <string>

enum class MonRoute { Plain, Tls, Ssh };

struct MonHostForm {
    MonRoute m_Route = MonRoute::Plain;
    std::string m_Host;       // the monitor (for ssh: as the ssh server reaches it)
    uint16_t m_Port = 5051;
    std::string m_SshUser;    // empty: ssh's own choice
    std::string m_SshHost;
    uint16_t m_SshPort = 0;   // 0: ssh's own choice
};

// False, leaving `form` alone, for a text none of the three forms reads.
bool Mon_ParseHostForm(const std::string& text, MonHostForm& form);

// The name a monitor's pinned identity is kept under: "host:port", the host
// lower-cased, an IPv6 address in brackets. The same for the plain and the
// tls:// form of one monitor, so that a monitor once seen with TLS is known
// when it is next asked for in plain text.
std::string Mon_MonitorKey(const MonHostForm& form);
