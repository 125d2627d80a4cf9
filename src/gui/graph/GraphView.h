#pragma once
// The traffic graph of a session: one line per chosen service plus "Others",
// each point the bytes moved during one poll, over the last 14 polls. The
// service catalogue (MasterMap) and the registry of graph views that reload
// when it changes live in ServiceCatalogue; the class operations here reach them.

#include <map>
#include <string>
#include <vector>

#include "gui/graph/GWGraphView.h"
#include "gui/graph/ServiceCatalogue.h"

class CVGLDoc;

class GraphView : public GWGraphView {
    Q_OBJECT
public:
    explicit GraphView(QWidget* parent = nullptr);  // RegisterClient
    ~GraphView() override;                          // UnregisterClient

    void OnInitialUpdate() override;
    void OnUpdate(GWView* sender, intptr_t hint, QObject* hintObject) override;

    void SetTimeLabels(int32_t period);
    void SetServiceList(const std::vector<std::string>& names);
    void ReloadServices();
    const std::vector<std::string>& GetServiceList() const { return m_ServiceList; }
    void ShowDefaultServices();

    using ServiceMap = ServiceCatalogue::ServiceMap;
    static const ServiceMap& GetMasterMap();
    static void MergeIntoMasterMap(const ServiceMap& services);
    static void LoadPredefinedServices();
    static const std::vector<GraphView*>& ServiceClients();

    CVGLDoc* GetDocument() const;

private:
    // The steps shared by SetServiceList and ReloadServices: the records of
    // m_ServiceList in reverse order, names the catalogue lacks dropped (and
    // traced when `trace`), "Others" appended as the last name and record.
    std::vector<ServiceRecord> BuildRecords(bool trace);
    // The other graph views of this view's document.
    std::vector<GraphView*> Siblings() const;
    void ShowServices(const std::vector<std::string>& names);
    // The History window on the connections behind points first..last, of
    // the service of `subset` (all services for -1).
    void ShowConnectionsOf(int first, int last, int subset);
    QString ServiceFilter(int subset) const;

    std::vector<std::string> m_ServiceList;  // "Others" always last
    int32_t m_Period = 0;                    // seconds between points; 0 until connected
};
