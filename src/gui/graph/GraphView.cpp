#include "gui/graph/GraphView.h"

#include <algorithm>

#include "core/base/Trace.h"
#include "gui/graph/GraphCtrl.h"
#include "gui/session/CVGLDoc.h"

namespace {

const char* const OthersName = "Others";
constexpr uint16_t PointsOnShow = 14;

GraphView::ServiceMap& MasterMap() {
    static GraphView::ServiceMap map;
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

// Everything that is not one of the chosen services: black, dotted.
ServiceRecord OthersRecord() {
    return MakeRecord(OthersName, 0, 0x000000, LineDot);
}

}  // namespace

GraphView::GraphView(QWidget* parent) : GWGraphView(parent) {
    ClientList().push_back(this);
}

GraphView::~GraphView() {
    auto& clients = ClientList();
    auto it = std::find(clients.begin(), clients.end(), this);
    if (it == clients.end()) {
        GW_TRACE("Did not find Service Client in Array");
        return;
    }
    clients.erase(it);
}

CVGLDoc* GraphView::GetDocument() const {
    return dynamic_cast<CVGLDoc*>(GWView::GetDocument());
}

void GraphView::OnInitialUpdate() {
    // The framework's own first update asks for a point before the graph is
    // set up; the base view skips such an append.
    GWGraphView::OnInitialUpdate();
    if (m_hGraph) {
        ApplyDefaults();
        SetTitles(QStringLiteral("Real Time Historical Log"), QString());
        SetYAxisLabel(QStringLiteral("Network traffic (delta bytes)"));
        SetXAxisLabel(QStringLiteral("Time (seconds elapsed)"));
        SetPointCount(PointsOnShow);
        m_hGraph->SetPointLabel(PointsOnShow - 1, QStringLiteral(" "));
        SetYMin(0.0);
        SetYMax(100.0);
        // Before a connection the points are labelled 0, 15, ... 195.
        for (int k = 0; k < PointsOnShow; ++k) AppendPointLabel(QString::number(k * 15));
        RefreshGraph();
    }
    LoadPredefinedServices();
    ShowDefaultServices();
}

// The document appends the points, one per update period; an update of the
// views only repaints.
void GraphView::OnUpdate(GWView*, intptr_t, QObject*) {
    update();
}

void GraphView::SetTimeLabels(int32_t period) {
    // The newest point is 0 seconds old; older points count back.
    for (int k = static_cast<int>(m_nPoints) - 1; k >= 0; --k) {
        AppendPointLabel(QString::number(static_cast<int64_t>(k) * period));
    }
    RefreshGraph();
}

void GraphView::ShowDefaultServices() {
    SetServiceList({"ftp", "ftp-data", "telnet", "www", "archie"});
}

void GraphView::SetServiceList(const std::vector<std::string>& names) {
    CVGLDoc* document = GetDocument();
    if (!document) return;
    m_ServiceList = names;
    SetSubsets(BuildRecords(true));
    // The table counts exactly these names from now on, each from 0.
    document->m_Table.SetServices(m_ServiceList);
}

void GraphView::ReloadServices() {
    SetSubsets(BuildRecords(false));
}

std::vector<ServiceRecord> GraphView::BuildRecords(bool trace) {
    const ServiceMap& catalogue = MasterMap();
    std::vector<std::string> kept;
    std::vector<ServiceRecord> records;
    for (auto it = m_ServiceList.rbegin(); it != m_ServiceList.rend(); ++it) {
        // "Others" is never a catalogue entry: it comes last, exactly once.
        if (*it == OthersName) continue;
        auto found = catalogue.find(*it);
        if (found == catalogue.end()) {
            if (trace) GW_TRACE("Could not find service name in the master map");
            continue;
        }
        records.push_back(found->second);
        kept.push_back(*it);
    }
    // Subset 0 is the last listed service; the list keeps the given order.
    m_ServiceList.assign(kept.rbegin(), kept.rend());
    m_ServiceList.emplace_back(OthersName);
    records.push_back(OthersRecord());
    return records;
}

const GraphView::ServiceMap& GraphView::GetMasterMap() {
    return MasterMap();
}

const std::vector<GraphView*>& GraphView::ServiceClients() {
    return ClientList();
}

void GraphView::MergeIntoMasterMap(const ServiceMap& services) {
    for (const auto& [name, record] : services) MasterMap()[name] = record;
    // A copy: a reload must not see the registry change under it.
    const std::vector<GraphView*> clients = ClientList();
    for (GraphView* view : clients) view->ReloadServices();
}

void GraphView::LoadPredefinedServices() {
    const ServiceRecord predefined[] = {
        MakeRecord("ftp", 21, 0x505050, LineDash),
        MakeRecord("telnet", 23, 0x0000FF, LineDot),
        MakeRecord("www", 80, 0xFF0000, LineSolid4),
        MakeRecord("ftp-data", 20, 0x00FF00, LineDashDotDot),
        MakeRecord("archie", 1525, 0x00FFFF, LineSolid),
        MakeRecord("whois", 43, 0x808080, LineSolid8),
        MakeRecord("finger", 79, 0xFFFF00, LineDashDot),
    };
    for (const ServiceRecord& record : predefined) MasterMap()[record.m_Name] = record;
}
