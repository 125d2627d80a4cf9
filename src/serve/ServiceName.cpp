#include "ServiceName.h"

#include <netdb.h>
#include <netinet/in.h>

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
    servent entry{};
    servent* found = nullptr;
    char scratch[1024];
    if (getservbyport_r(htons(port), "tcp", &entry, scratch, sizeof scratch, &found) == 0 &&
        found != nullptr && found->s_name != nullptr) {
        return found->s_name;
    }
    return std::to_string(port);
}
