#include "gui/graph/GraphView.h"

#include <QCursor>
#include <QToolTip>

#include "core/base/Trace.h"
#include "core/view/FilterLine.h"
#include "gui/framework/MonitorText.h"
#include "gui/graph/GraphCtrl.h"
#include "gui/graph/ServiceCatalogue.h"
#include "gui/history/HistoryWindow.h"
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
    m_hGraph->setToolTip(
        QStringLiteral("Click a point to see its connections in the History window, or drag "
                       "across a span to see all of its"));
    connect(m_hGraph, &GraphCtrl::pointsChosen, this, &GraphView::ShowConnectionsOf);
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
    m_Period = period;
    // The newest point is 0 seconds old; older points count back.
    for (int k = static_cast<int>(m_nPoints) - 1; k >= 0; --k) {
        AppendPointLabel(QString::number(static_cast<int64_t>(k) * period));
    }
    RefreshGraph();
}

// A point holds what moved since the point before it, so it reaches back to
// that point's time; the first point after a connect, which has none before
// it, reaches back one period. The History grid takes a connection by its end.
void GraphView::ShowConnectionsOf(int first, int last, int subset) {
    int64_t from = 0;
    int64_t to = 0;
    for (int p = first; p <= last; ++p) {
        const int64_t end = PointEnd(p);
        if (end == 0) continue;
        if (from == 0) {
            const int64_t before = PointEnd(p - 1);
            from = before != 0 ? before : end - std::max<int32_t>(m_Period, 1);
        }
        to = end + 1;
    }
    if (to == 0) {
        QToolTip::showText(QCursor::pos(),
                           QStringLiteral("No poll made these points: they have no connections."),
                           m_hGraph);
        return;
    }
    CVGLDoc* document = GetDocument();
    const QString server = document ? document->ServerName() : QString();
    HistoryWindow* history = HistoryWindow::ShowWindow(window());
    history->ShowConnections(from, to, server, ServiceFilter(subset));
}

// "Others" is every service but the ones with lines of their own.
QString GraphView::ServiceFilter(int subset) const {
    std::string name;
    for (const auto& [service, index] : SubsetMap()) {
        if (index == subset) name = service;
    }
    if (name.empty()) return QString();
    if (name != OthersName) return MonitorText(FilterLine::ExactTerm("service", name));
    QStringList terms;
    for (const std::string& service : m_ServiceList) {
        if (service != OthersName)
            terms << QLatin1Char('-') + MonitorText(FilterLine::ExactTerm("service", service));
    }
    return terms.join(QLatin1Char(' '));
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
