#include "gui/options/SystemServices.h"

#include <netdb.h>
#include <netinet/in.h>

#include <cstring>
#include <mutex>

const std::map<QString, int>& SystemServices::TcpPorts() {
    static std::map<QString, int> ports;
    static std::once_flag read;
    std::call_once(read, [] {
        ::setservent(0);
        while (const servent* entry = ::getservent()) {
            if (entry->s_proto == nullptr || std::strcmp(entry->s_proto, "tcp") != 0) continue;
            ports.emplace(QString::fromLocal8Bit(entry->s_name), ntohs(static_cast<uint16_t>(entry->s_port)));
        }
        ::endservent();
    });
    return ports;
}
