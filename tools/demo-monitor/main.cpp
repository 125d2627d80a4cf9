// vgl-demo-monitor: a monitor that serves made-up proxy traffic on port 5051,
// so that VGL can be tried without a SOCKS5 proxy.
//
//   vgl-demo-monitor [--listen ADDRESS] [--seed N] [--connections N]
//                    [--monitor-tls-cert FILE --monitor-tls-key FILE --monitor-clients FILE]
//                    [--monitor-tls-generate DIR]

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "DemoServer.h"
#include "DemoTraffic.h"
#include "core/monitor/MonIdentity.h"
#include "core/monitor/MonTlsServer.h"

namespace {

int g_WakeWrite = -1;

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(g_WakeWrite, &byte, 1);
}

void Usage(std::FILE* out) {
    std::fputs(
        "usage: vgl-demo-monitor [--listen ADDRESS] [--seed N] [--connections N]\n"
        "Serves made-up SOCKS5 proxy traffic to VGL on TCP port 5051.\n"
        "  --listen ADDRESS  IPv4 address or host name to listen on (default 127.0.0.1)\n"
        "  --seed N          seed of the made-up traffic (default: from the clock)\n"
        "  --connections N   about how many connections are active at once (default 17,\n"
        "                    at most 100000)\n"
        "  --monitor-tls-cert FILE, --monitor-tls-key FILE\n"
        "                    speak TLS only, with this certificate and key\n"
        "  --monitor-clients FILE\n"
        "                    client certificates allowed over TLS: 'SHA256:... name' lines\n"
        "  --monitor-tls-generate DIR\n"
        "                    write DIR/monitor.key and DIR/monitor.crt, print the\n"
        "                    fingerprint and exit\n"
        "Ctrl+C stops it.\n",
        out);
}

struct Options {
    std::string m_Address = "127.0.0.1";
    uint32_t m_Seed = static_cast<uint32_t>(std::time(nullptr));
    int m_Connections = demo::DemoTraffic::DefaultConnections;
    std::string m_TlsCert, m_TlsKey, m_Clients, m_TlsGenerate;
};

bool IsPathOption(const std::string& argument) {
    return argument == "--monitor-tls-cert" || argument == "--monitor-tls-key" ||
           argument == "--monitor-clients" || argument == "--monitor-tls-generate";
}

std::string& PathOf(const std::string& argument, Options& options) {
    return argument == "--monitor-tls-cert"  ? options.m_TlsCert
           : argument == "--monitor-tls-key" ? options.m_TlsKey
           : argument == "--monitor-clients" ? options.m_Clients
                                             : options.m_TlsGenerate;
}

// Without a clients file anyone who connects would read the records.
bool CheckTls(const Options& options) {
    const bool cert = !options.m_TlsCert.empty(), key = !options.m_TlsKey.empty();
    const char* problem = cert != key ? "--monitor-tls-cert and --monitor-tls-key go together"
                          : cert == options.m_Clients.empty()
                              ? "TLS needs --monitor-clients, and --monitor-clients needs TLS"
                              : nullptr;
    if (problem) std::fprintf(stderr, "vgl-demo-monitor: %s\n", problem);
    return problem == nullptr;
}

int GenerateIdentity(const std::string& folder) {
    const std::string key = folder + "/monitor.key", cert = folder + "/monitor.crt";
    struct stat status {};
    if (::stat(key.c_str(), &status) == 0 || ::stat(cert.c_str(), &status) == 0) {
        std::fprintf(stderr, "vgl-demo-monitor: %s holds an identity already\n", folder.c_str());
        return 1;
    }
    ::mkdir(folder.c_str(), 0755);
    std::string error, fingerprint;
    if (!Mon_MakeIdentity(key, cert, "vgl-demo-monitor", error) ||
        !Mon_CertificateFingerprint(cert, fingerprint, error)) {
        std::fprintf(stderr, "vgl-demo-monitor: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", fingerprint.c_str());
    return 0;
}

// A whole number within [low, high]; false otherwise.
bool ParseNumber(const std::string& text, unsigned long low, unsigned long high,
                 unsigned long& number) {
    char* end = nullptr;
    number = std::strtoul(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && number >= low && number <= high;
}

// Accepts "--name value" and "--name=value". False after a usage error.
bool ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        std::string value;
        const size_t equals = argument.find('=');
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
        } else if ((argument == "--listen" || argument == "--seed" || argument == "--connections" ||
                    IsPathOption(argument)) &&
                   i + 1 < argc) {
            value = argv[++i];
        }
        if (argument == "--help" || argument == "-h") {
            Usage(stdout);
            std::exit(0);
        }
        if (IsPathOption(argument) && !value.empty()) {
            PathOf(argument, options) = value;
        } else if (argument == "--listen" && !value.empty()) {
            options.m_Address = value;
        } else if (argument == "--seed" && !value.empty()) {
            unsigned long seed = 0;
            if (!ParseNumber(value, 0, 0xFFFFFFFFul, seed)) {
                std::fprintf(stderr, "vgl-demo-monitor: the seed must be a number: %s\n",
                             value.c_str());
                return false;
            }
            options.m_Seed = static_cast<uint32_t>(seed);
        } else if (argument == "--connections" && !value.empty()) {
            unsigned long connections = 0;
            if (!ParseNumber(value, 1, 100000, connections)) {
                std::fprintf(stderr,
                             "vgl-demo-monitor: the connections must be a number from 1 to "
                             "100000: %s\n",
                             value.c_str());
                return false;
            }
            options.m_Connections = static_cast<int>(connections);
        } else {
            std::fprintf(stderr, "vgl-demo-monitor: unknown or incomplete argument: %s\n", argv[i]);
            Usage(stderr);
            return false;
        }
    }
    return CheckTls(options);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        return 2;
    }
    if (!options.m_TlsGenerate.empty()) {
        return GenerateIdentity(options.m_TlsGenerate);
    }
    MonTlsServer tls;
    std::string error;
    if (!options.m_TlsCert.empty() &&
        !tls.Load(options.m_TlsCert, options.m_TlsKey, options.m_Clients, error)) {
        std::fprintf(stderr, "vgl-demo-monitor: %s\n", error.c_str());
        return 1;
    }

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) < 0) {
        std::perror("vgl-demo-monitor: pipe");
        return 1;
    }
    g_WakeWrite = wake[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    demo::DemoTraffic traffic(options.m_Seed, static_cast<int64_t>(std::time(nullptr)),
                              options.m_Connections);
    demo::DemoServer server(traffic, options.m_TlsCert.empty() ? nullptr : &tls);
    if (!server.Listen(options.m_Address, error)) {
        std::fprintf(stderr, "vgl-demo-monitor: %s\n", error.c_str());
        return 1;
    }
    std::printf(
        "vgl-demo-monitor: serving made-up proxy traffic on %s:5051 (seed %u); Ctrl+C stops "
        "it\n",
        options.m_Address.c_str(), options.m_Seed);
    if (!options.m_TlsCert.empty()) {
        std::printf("vgl-demo-monitor: TLS only, certificate %s, %zu clients listed\n",
                    tls.Fingerprint().c_str(), tls.ClientCount());
    }
    std::fflush(stdout);
    server.Run(wake[0]);
    std::printf("vgl-demo-monitor: stopped\n");
    return 0;
}
