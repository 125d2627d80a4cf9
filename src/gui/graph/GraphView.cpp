#include "gui/graph/GraphView.h"

#include "core/base/Trace.h"
#include "gui/graph/GraphCtrl.h"
#include "gui/graph/ServiceCatalogue.h"
#include "gui/session/CVGLDoc.h"

namespace {

const char* const OthersName = "Others";
constexpr uint16_t PointsOnShow = 14;

// Everything that is not one of the chosen services: black, dotted.
ServiceRecord OthersRecord() {
    ServiceRecord record;
    record.m_Name = OthersName;
    record.m_LineStyle = LineDot;
    return record;
}

}  // namespace

GraphView::GraphView(QWidget* parent) : GWGraphView(parent) {
    ServiceCatalogue::Register(this);
}

GraphView::~GraphView() {
    if (!ServiceCatalogue::Unregister(this)) GW_TRACE("Did not find Service Client in Array");
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
    // Another window of the document shows what the first one shows; only
    // the first sets the document's services.
    const std::vector<GraphView*> siblings = Siblings();
    if (siblings.empty()) {
        ShowDefaultServices();
        return;
    }
    ShowServices(siblings.front()->m_ServiceList);
    CopyPointsFrom(*siblings.front());
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
    SetServiceList(ServiceCatalogue::DefaultServiceNames());
}

void GraphView::SetServiceList(const std::vector<std::string>& names) {
    CVGLDoc* document = GetDocument();
    if (!document) return;
    m_ServiceList = names;
    SetSubsets(BuildRecords(true));
    document->SetServices(m_ServiceList, ServiceCatalogue::PortsOf(m_ServiceList));
    for (GraphView* sibling : Siblings()) sibling->ShowServices(m_ServiceList);
}

void GraphView::ShowServices(const std::vector<std::string>& names) {
    m_ServiceList = names;
    SetSubsets(BuildRecords(false));
}

std::vector<GraphView*> GraphView::Siblings() const {
    std::vector<GraphView*> siblings;
    if (CVGLDoc* document = GetDocument()) siblings = document->GetGraphViews();
    std::erase(siblings, this);
    return siblings;
}

void GraphView::ReloadServices() {
    SetSubsets(BuildRecords(false));
}

std::vector<ServiceRecord> GraphView::BuildRecords(bool trace) {
    const ServiceMap& catalogue = ServiceCatalogue::Services();
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
    return ServiceCatalogue::Services();
}

const std::vector<GraphView*>& GraphView::ServiceClients() {
    return ServiceCatalogue::Clients();
}

void GraphView::MergeIntoMasterMap(const ServiceMap& services) {
    ServiceCatalogue::Merge(services);
}

void GraphView::LoadPredefinedServices() {
    ServiceCatalogue::LoadPredefined();
}
