#include "core/monitor/MonIdentity.h"

// Placeholder: identities arrive with the TLS link.
std::string Mon_FingerprintOfDer(const unsigned char*, size_t) {
    return {};
}
bool Mon_MakeIdentity(const std::string&, const std::string&, const std::string&,
                      std::string& error) {
    error = "not built yet";
    return false;
}
bool Mon_CertificateFingerprint(const std::string&, std::string&, std::string& error) {
    error = "not built yet";
    return false;
}
bool Mon_LoadOrMakeClientIdentity(const std::string&, std::string&, std::string& error) {
    error = "not built yet";
    return false;
}
