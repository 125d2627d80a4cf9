#pragma once
// The TCP services of the system's services database (/etc/services): what
// the graph page's Add box offers, so that a user adding "https" or "ssh"
// gets its port filled in.

#include <QString>
#include <map>

class SystemServices {
public:
    // Name to port, each name once (its first entry), read once per process.
    static const std::map<QString, int>& TcpPorts();
};
