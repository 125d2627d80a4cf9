#include "core/monitor/MonHostForm.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "core/monitor/MonHostName.h"

namespace {

constexpr std::string_view TlsScheme = "tls://";
constexpr std::string_view SshScheme = "ssh://";
constexpr char SshMonitorHost[] = "127.0.0.1";

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char wanted, char given) {
               return std::tolower(static_cast<unsigned char>(given)) == wanted;
           });
}

// What goes on ssh's command line or into a TLS connect: no spaces or control
// characters, and nothing that ssh could take for an option of its own.
bool IsSafeName(const std::string& name) {
    if (name.empty() || name.front() == '-') return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= ' ' || byte == 0x7F || c == '/' || c == '@';
    });
}

// "host[:port]" where the port is optional and has no default: 0 when absent.
bool ParseSshServer(const std::string& text, std::string& host, uint16_t& port) {
    std::string name;
    uint16_t number = 0;
    if (!Mon_ParseHostName(text, name, number)) return false;
    const bool bracketed = !text.empty() && text.front() == '[';
    const size_t colons = static_cast<size_t>(std::count(text.begin(), text.end(), ':'));
    const bool hasPort = bracketed ? text.back() != ']' : colons == 1;
    host = name;
    port = hasPort ? number : 0;
    return true;
}

bool ParseTls(const std::string& rest, MonHostForm& form) {
    MonHostForm tls;
    tls.m_Route = MonRoute::Tls;
    if (!Mon_ParseHostName(rest, tls.m_Host, tls.m_Port) || !IsSafeName(tls.m_Host)) return false;
    form = tls;
    return true;
}

// [USER@]HOST[:SSHPORT][/MONITOR-HOST[:PORT]]
bool ParseSsh(const std::string& rest, MonHostForm& form) {
    MonHostForm ssh;
    ssh.m_Route = MonRoute::Ssh;
    ssh.m_Host = SshMonitorHost;
    const size_t slash = rest.find('/');
    std::string server = rest.substr(0, slash);
    if (slash != std::string::npos &&
        (!Mon_ParseHostName(rest.substr(slash + 1), ssh.m_Host, ssh.m_Port) ||
         !IsSafeName(ssh.m_Host))) {
        return false;
    }
    if (const size_t at = server.find('@'); at != std::string::npos) {
        ssh.m_SshUser = server.substr(0, at);
        server = server.substr(at + 1);
        if (!IsSafeName(ssh.m_SshUser)) return false;
    }
    if (!ParseSshServer(server, ssh.m_SshHost, ssh.m_SshPort) || !IsSafeName(ssh.m_SshHost)) {
        return false;
    }
    form = ssh;
    return true;
}

}  // namespace

bool Mon_ParseHostForm(const std::string& text, MonHostForm& form) {
    if (StartsWithNoCase(text, TlsScheme)) return ParseTls(text.substr(TlsScheme.size()), form);
    if (StartsWithNoCase(text, SshScheme)) return ParseSsh(text.substr(SshScheme.size()), form);
    MonHostForm plain;
    if (!Mon_ParseHostName(text, plain.m_Host, plain.m_Port)) return false;
    form = plain;
    return true;
}

std::string Mon_MonitorKey(const MonHostForm& form) {
    std::string host = form.m_Host;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    return host + ":" + std::to_string(form.m_Port);
}
