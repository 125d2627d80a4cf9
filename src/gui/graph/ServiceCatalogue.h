#pragma once
// The process-wide catalogue of services a graph can plot (name, port,
// colour, line style; seven predefined), and the graph views that reload
// their lines when it changes. It is filled by the graph views, the options'
// Graph page and the session documents' settings, and lives until the
// program ends: entries are added or replaced, never removed.

#include <map>
#include <string>
#include <vector>

#include "gui/graph/ServiceRecord.h"

class GraphView;

class ServiceCatalogue {
public:
    using ServiceMap = std::map<std::string, ServiceRecord>;

    static const ServiceMap& Services();
    // Stores each record under its name, then every graph view reloads.
    static void Merge(const ServiceMap& services);
    // Stores the seven predefined records, replacing those of the same names.
    static void LoadPredefined();
    // What a new session's graph shows.
    static const std::vector<std::string>& DefaultServiceNames();
    // The records of these names, in their order; names the catalogue lacks are left out.
    static std::vector<ServiceRecord> RecordsOf(const std::vector<std::string>& names);
    // The port of each of these names that the catalogue holds.
    static std::map<std::string, int32_t> PortsOf(const std::vector<std::string>& names);

    // The graph views, in order of construction.
    static void Register(GraphView* view);
    static bool Unregister(GraphView* view);  // false when it was not registered
    static const std::vector<GraphView*>& Clients();
};
