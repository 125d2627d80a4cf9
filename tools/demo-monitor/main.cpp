// vgl-demo-monitor: a monitor that serves made-up proxy traffic on port 5051,
// so that VGL can be tried without a SOCKS5 proxy.
//
//   vgl-demo-monitor [--listen ADDRESS] [--seed N]

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "DemoServer.h"
#include "DemoTraffic.h"

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
        "Ctrl+C stops it.\n",
        out);
}

struct Options {
    std::string m_Address = "127.0.0.1";
    uint32_t m_Seed = static_cast<uint32_t>(std::time(nullptr));
    int m_Connections = demo::DemoTraffic::DefaultConnections;
};

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
        } else if ((argument == "--listen" || argument == "--seed" ||
                    argument == "--connections") &&
                   i + 1 < argc) {
            value = argv[++i];
        }
        if (argument == "--help" || argument == "-h") {
            Usage(stdout);
            std::exit(0);
        }
        if (argument == "--listen" && !value.empty()) {
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
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        return 2;
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
    demo::DemoServer server(traffic);
    std::string error;
    if (!server.Listen(options.m_Address, error)) {
        std::fprintf(stderr, "vgl-demo-monitor: %s\n", error.c_str());
        return 1;
    }
    std::printf(
        "vgl-demo-monitor: serving made-up proxy traffic on %s:5051 (seed %u); Ctrl+C stops "
        "it\n",
        options.m_Address.c_str(), options.m_Seed);
    std::fflush(stdout);
    server.Run(wake[0]);
    std::printf("vgl-demo-monitor: stopped\n");
    return 0;
}
