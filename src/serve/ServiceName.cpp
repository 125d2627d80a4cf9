#include "ServiceName.h"

#include <netdb.h>
#include <netinet/in.h>

#include <cstring>
#include <unordered_map>

namespace {

// The services database's TCP names by port, read once: asking it per
// connection reads and parses the whole file each time, which cost a short
// connection more than everything else the proxy does for it. The first
// entry of a port wins, as it does for getservbyport(3).
const std::unordered_map<uint16_t, std::string>& ServicesDatabase() {
    static const std::unordered_map<uint16_t, std::string> names = [] {
        std::unordered_map<uint16_t, std::string> read;
        servent entry{};
        servent* found = nullptr;
        char scratch[4096];
        setservent(0);
        while (getservent_r(&entry, scratch, sizeof scratch, &found) == 0 && found != nullptr) {
            if (found->s_name != nullptr && found->s_proto != nullptr &&
                std::strcmp(found->s_proto, "tcp") == 0) {
                read.emplace(ntohs(static_cast<uint16_t>(found->s_port)), found->s_name);
            }
        }
        endservent();
        return read;
    }();
    return names;
}

}  // namespace

std::string ServiceName(uint16_t port) {
    // The graph matches records to its lines by these names, whatever the
    // services database calls the ports (it says "http" for 80).
    switch (port) {
        case 20:
            return "ftp-data";
        case 21:
            return "ftp";
        case 23:
            return "telnet";
        case 43:
            return "whois";
        case 79:
            return "finger";
        case 80:
            return "www";
        case 1525:
            return "archie";
        default:
            break;
    }
    const auto& names = ServicesDatabase();
    if (const auto found = names.find(port); found != names.end()) return found->second;
    return std::to_string(port);
}
