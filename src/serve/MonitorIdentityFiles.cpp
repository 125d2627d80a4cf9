#include "MonitorIdentityFiles.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "core/monitor/MonIdentity.h"

namespace {

int Fail(const std::string& program, const std::string& message) {
    std::cerr << program << ": " << message << "\n";
    return 1;
}

}  // namespace

int GenerateMonitorIdentity(const std::string& folder, const std::string& program) {
    const std::string key = folder + "/monitor.key";
    const std::string cert = folder + "/monitor.crt";
    std::error_code failure;
    for (const std::string& path : {key, cert}) {
        if (std::filesystem::exists(path, failure))
            return Fail(program, path + " exists already; remove it to make a new identity");
    }
    std::filesystem::create_directories(folder, failure);
    if (failure) return Fail(program, "cannot make the folder " + folder + ": " + failure.message());
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || !*host) program.copy(host, sizeof host - 1);
    std::string error, fingerprint;
    if (!Mon_MakeIdentity(key, cert, host, error) ||
        !Mon_CertificateFingerprint(cert, fingerprint, error)) {
        return Fail(program, error);
    }
    std::cout << fingerprint << "\n";
    return 0;
}
