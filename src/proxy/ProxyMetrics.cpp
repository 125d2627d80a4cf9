#include "ProxyMetrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "SocksReply.h"

namespace {

// A label value as the exposition format writes it.
std::string LabelValue(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

void Header(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Family(std::string& out, const char* name, const char* help, const char* label,
            const std::map<std::string, uint64_t>& counts) {
    Header(out, name, "counter", help);
    for (const auto& [key, count] : counts) {
        out += std::string(name) + "{" + label + "=\"" + LabelValue(key) + "\"} " +
               std::to_string(count) + "\n";
    }
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

size_t OpenDescriptors() {
    size_t count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ++count;
        }
        closedir(dir);
        if (count > 0) --count;  // the one of the listing itself
    }
    return count;
}

size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t total = 0, resident = 0;
    statm >> total >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The label values of the two enums, written here only.
const char* Label(HandshakeEnd reason) {
    switch (reason) {
        case HandshakeEnd::Timeout:
            return "timeout";
        case HandshakeEnd::Authentication:
            return "authentication";
        case HandshakeEnd::NoMethod:
            return "no_method";
        case HandshakeEnd::Closed:
            return "closed";
        case HandshakeEnd::Shutdown:
            return "shutdown";
        case HandshakeEnd::Dropped:
            return "dropped";
        case HandshakeEnd::Malformed:
            break;
    }
    return "malformed";
}

const char* Label(RefusedBy by) {
    switch (by) {
        case RefusedBy::Allow:
            return "allow";
        case RefusedBy::Limit:
            return "limit";
        case RefusedBy::Rule:
            return "rule";
        case RefusedBy::OwnListener:
            return "own_listener";
        case RefusedBy::PrivateAddress:
            return "private_address";
        case RefusedBy::UserBlock:
            return "user_block";
        case RefusedBy::ClientBlock:
            return "client_block";
        case RefusedBy::DestinationBlock:
            return "destination_block";
        case RefusedBy::Forbidden:
            break;
    }
    return "forbidden";
}

const char* Label(MonControlOp op) {
    switch (op) {
        case MonControlOp::Hello:
            return "hello";
        case MonControlOp::Close:
            return "close";
        case MonControlOp::Block:
            return "block";
        case MonControlOp::Lift:
            return "lift";
        case MonControlOp::ListBlocks:
            break;
    }
    return "list";
}

const char* Label(MonControlStatus status) {
    return status == MonControlStatus::Done ? "done" : "refused";
}

const char* Label(MonitorRefusal reason) {
    return reason == MonitorRefusal::ClientKey ? "client_key" : "handshake";
}

}  // namespace

// Written out rather than made from ReplyText, so that a reworded reply
// text keeps its label.
std::string ReplyLabel(uint8_t code) {
    switch (code) {
        case ReplySucceeded:
            return "succeeded";
        case ReplyGeneralFailure:
            return "general_failure";
        case ReplyNotAllowed:
            return "not_allowed";
        case ReplyNetworkUnreachable:
            return "network_unreachable";
        case ReplyHostUnreachable:
            return "host_unreachable";
        case ReplyConnectionRefused:
            return "connection_refused";
        case ReplyTtlExpired:
            return "ttl_expired";
        case ReplyCommandNotSupported:
            return "command_not_supported";
        case ReplyAddressTypeNotSupported:
            return "address_type_not_supported";
        default:
            return "unknown_reply";
    }
}

ProxyMetrics::ProxyMetrics() {
    for (uint8_t code = ReplySucceeded; code <= ReplyAddressTypeNotSupported; ++code)
        m_Opened[ReplyLabel(code)] = 0;
    for (HandshakeEnd reason :
         {HandshakeEnd::Timeout, HandshakeEnd::Authentication, HandshakeEnd::NoMethod,
          HandshakeEnd::Malformed, HandshakeEnd::Closed, HandshakeEnd::Shutdown,
          HandshakeEnd::Dropped})
        m_HandshakeFailures[Label(reason)] = 0;
    for (RefusedBy by : {RefusedBy::Allow, RefusedBy::Limit, RefusedBy::Rule,
                         RefusedBy::OwnListener, RefusedBy::PrivateAddress, RefusedBy::Forbidden,
                         RefusedBy::UserBlock, RefusedBy::ClientBlock, RefusedBy::DestinationBlock})
        m_Refused[Label(by)] = 0;
    for (const char* result : {"found", "failed", "timeout"}) m_Lookups[result] = 0;
    for (MonitorRefusal reason : {MonitorRefusal::ClientKey, MonitorRefusal::Handshake})
        m_MonitorRefused[Label(reason)] = 0;
    for (MonControlOp op :
         {MonControlOp::Close, MonControlOp::Block, MonControlOp::Lift, MonControlOp::ListBlocks}) {
        for (MonControlStatus status : {MonControlStatus::Done, MonControlStatus::Refused})
            m_Controls[{Label(op), Label(status)}] = 0;
    }
}

std::string ProxyMetrics::FirstSeen(std::set<std::string>& seen, size_t limit,
                                    const std::string& name) {
    if (seen.count(name)) return name;
    if (seen.size() >= limit) return "other";
    seen.insert(name);
    return name;
}

ProxyMetrics::Traffic& ProxyMetrics::TrafficOf(const std::string& user, const std::string& service,
                                               const std::vector<std::string>& listed) {
    std::lock_guard lock(m_Mutex);
    const std::string label = FirstSeen(m_Services, ServiceLimit, service);
    const bool named = std::find(listed.begin(), listed.end(), user) != listed.end();
    const std::string userLabel = listed.empty() ? FirstSeen(m_Users, UserLimit, user)
                                  : named        ? user
                                                 : "other";
    std::unique_ptr<Traffic>& traffic = m_Traffic[{userLabel, label}];
    if (!traffic) traffic = std::make_unique<Traffic>();
    return *traffic;
}

void ProxyMetrics::Count(std::map<std::string, uint64_t>& counts, const std::string& key) {
    std::lock_guard lock(m_Mutex);
    ++counts[key];
}

void ProxyMetrics::Opened(const std::string& result) {
    Count(m_Opened, result);
}

void ProxyMetrics::HandshakeFailed(HandshakeEnd reason) {
    Count(m_HandshakeFailures, Label(reason));
}

void ProxyMetrics::Refused(RefusedBy by) {
    Count(m_Refused, Label(by));
}

void ProxyMetrics::MonitorRefused(MonitorRefusal reason) {
    Count(m_MonitorRefused, Label(reason));
}

void ProxyMetrics::Controlled(MonControlOp op, MonControlStatus status) {
    std::lock_guard lock(m_Mutex);
    ++m_Controls[{Label(op), Label(status)}];
}

void ProxyMetrics::Looked(bool found, bool timedOut, std::chrono::duration<double> took) {
    std::lock_guard lock(m_Mutex);
    ++m_Lookups[timedOut ? "timeout" : found ? "found" : "failed"];
    ++m_LookupCount;
    m_LookupSeconds += took.count();
    for (size_t i = 0; i < LookupBuckets.size(); ++i) {
        if (took.count() <= LookupBuckets[i]) ++m_LookupBucketCounts[i];
    }
}

std::string ProxyMetrics::Text(size_t open, size_t monitorClients,
                               const std::array<size_t, 3>& blocks) const {
    std::string out;
    Header(out, "vgl_proxy_connections_open", "gauge", "Client connections open now.");
    out += "vgl_proxy_connections_open " + std::to_string(open) + "\n";
    Header(out, "vgl_proxy_monitor_clients", "gauge", "Monitor clients connected now.");
    out += "vgl_proxy_monitor_clients " + std::to_string(monitorClients) + "\n";
    Header(out, "vgl_proxy_blocks", "gauge",
           "Blocks set by monitor clients in force now, by what they name.");
    for (const MonBlockWhat what :
         {MonBlockWhat::User, MonBlockWhat::Client, MonBlockWhat::Destination}) {
        out += std::string("vgl_proxy_blocks{what=\"") + MonBlockWhatName(what) + "\"} " +
               std::to_string(blocks[static_cast<size_t>(what) - 1]) + "\n";
    }
    std::lock_guard lock(m_Mutex);
    Family(out, "vgl_proxy_connections_opened_total",
           "CONNECT requests answered, by the reply they got.", "result", m_Opened);
    Family(out, "vgl_proxy_handshake_failures_total",
           "Clients that ended before a request, by reason.", "reason", m_HandshakeFailures);
    Family(out, "vgl_proxy_refused_total",
           "Connections and CONNECTs refused, by what refused them.", "by", m_Refused);
    Family(out, "vgl_proxy_monitor_refused_total",
           "Monitor clients refused in the TLS handshake: an unlisted certificate (client_key) "
           "or another failure.",
           "reason", m_MonitorRefused);
    Header(out, "vgl_proxy_control_requests_total", "counter",
           "Control requests of monitor clients the proxy acted on or refused, by action and "
           "answer.");
    for (const auto& [key, count] : m_Controls) {
        out += "vgl_proxy_control_requests_total{action=\"" + key.first + "\",result=\"" +
               key.second + "\"} " + std::to_string(count) + "\n";
    }
    Family(out, "vgl_proxy_lookups_total", "Host name lookups, by outcome.", "result", m_Lookups);
    for (const bool in : {true, false}) {
        const char* name = in ? "vgl_proxy_bytes_in_total" : "vgl_proxy_bytes_out_total";
        Header(out, name, "counter",
               in ? "Bytes relayed from destinations to clients."
                  : "Bytes relayed from clients to destinations.");
        for (const auto& [key, traffic] : m_Traffic) {
            const uint64_t bytes = (in ? traffic->m_In : traffic->m_Out).load();
            out += std::string(name) + "{user=\"" + LabelValue(key.first) + "\",service=\"" +
                   LabelValue(key.second) + "\"} " + std::to_string(bytes) + "\n";
        }
    }
    Header(out, "vgl_proxy_lookup_duration_seconds", "histogram",
           "How long host name lookups took, their wait for a thread included.");
    for (size_t i = 0; i < LookupBuckets.size(); ++i) {
        out += "vgl_proxy_lookup_duration_seconds_bucket{le=\"" + Number(LookupBuckets[i]) +
               "\"} " + std::to_string(m_LookupBucketCounts[i]) + "\n";
    }
    out += "vgl_proxy_lookup_duration_seconds_bucket{le=\"+Inf\"} " +
           std::to_string(m_LookupCount) + "\n";
    out += "vgl_proxy_lookup_duration_seconds_sum " + Number(m_LookupSeconds) + "\n";
    out += "vgl_proxy_lookup_duration_seconds_count " + std::to_string(m_LookupCount) + "\n";
    Header(out, "process_cpu_seconds_total", "counter",
           "CPU time of the proxy, relaying included, in seconds.");
    out += "process_cpu_seconds_total " + Number(CpuSeconds()) + "\n";
    Header(out, "process_resident_memory_bytes", "gauge", "Resident memory in bytes.");
    out += "process_resident_memory_bytes " + std::to_string(ResidentBytes()) + "\n";
    Header(out, "process_open_fds", "gauge", "Open file descriptors.");
    out += "process_open_fds " + std::to_string(OpenDescriptors()) + "\n";
    return out;
}
