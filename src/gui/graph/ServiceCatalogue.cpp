#include "gui/graph/ServiceCatalogue.h"

#include <algorithm>

#include "gui/graph/GraphView.h"

namespace {

ServiceCatalogue::ServiceMap& Catalogue() {
    static ServiceCatalogue::ServiceMap map;
    return map;
}

std::vector<GraphView*>& ClientList() {
    static std::vector<GraphView*> clients;
    return clients;
}

ServiceRecord MakeRecord(const char* name, int32_t port, uint32_t color, int32_t lineStyle) {
    ServiceRecord record;
    record.m_Name = name;
    record.m_bUserDefined = 0;
    record.m_Port = port;
    record.m_Color = color;
    record.m_LineStyle = lineStyle;
    return record;
}

}  // namespace

const ServiceCatalogue::ServiceMap& ServiceCatalogue::Services() {
    return Catalogue();
}

void ServiceCatalogue::Merge(const ServiceMap& services) {
    for (const auto& [name, record] : services) Catalogue()[name] = record;
    // A copy: a reload must not see the registry change under it.
    const std::vector<GraphView*> clients = ClientList();
    for (GraphView* view : clients) view->ReloadServices();
}

void ServiceCatalogue::LoadPredefined() {
    const ServiceRecord predefined[] = {
        MakeRecord("ftp", 21, 0x505050, LineDash),
        MakeRecord("telnet", 23, 0x0000FF, LineDot),
        MakeRecord("www", 80, 0xFF0000, LineSolid4),
        MakeRecord("ftp-data", 20, 0x00FF00, LineDashDotDot),
        MakeRecord("archie", 1525, 0x00FFFF, LineSolid),
        MakeRecord("whois", 43, 0x808080, LineSolid8),
        MakeRecord("finger", 79, 0xFFFF00, LineDashDot),
        // Today's traffic: web over TLS and proxies chained to SOCKS servers.
        MakeRecord("https", 443, 0xFF00FF, LineDash),
        MakeRecord("socks", 1080, 0x0080FF, LineDot),
    };
    for (const ServiceRecord& record : predefined) Catalogue()[record.m_Name] = record;
}

const std::vector<std::string>& ServiceCatalogue::DefaultServiceNames() {
    static const std::vector<std::string> names = {"ftp", "ftp-data", "telnet", "www", "archie"};
    return names;
}

std::vector<ServiceRecord> ServiceCatalogue::RecordsOf(const std::vector<std::string>& names) {
    std::vector<ServiceRecord> records;
    for (const std::string& name : names) {
        if (auto found = Catalogue().find(name); found != Catalogue().end()) {
            records.push_back(found->second);
        }
    }
    return records;
}

std::map<std::string, int32_t> ServiceCatalogue::PortsOf(const std::vector<std::string>& names) {
    std::map<std::string, int32_t> ports;
    for (const ServiceRecord& record : RecordsOf(names))
        ports.emplace(record.m_Name, record.m_Port);
    return ports;
}

void ServiceCatalogue::Register(GraphView* view) {
    ClientList().push_back(view);
}

bool ServiceCatalogue::Unregister(GraphView* view) {
    auto& clients = ClientList();
    auto it = std::find(clients.begin(), clients.end(), view);
    if (it == clients.end()) return false;
    clients.erase(it);
    return true;
}

const std::vector<GraphView*>& ServiceCatalogue::Clients() {
    return ClientList();
}
