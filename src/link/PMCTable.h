#pragma once
// The per-session model of a proxy's connections as one monitor reports them:
// owns the monitor connection, runs the poll that reads a batch, keeps the
// active, failed and just-closed entries, builds the rows the grid shows and
// adds up each service's traffic of the interval for the graph.

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "link/EntryMap.h"
#include "link/MonStream.h"

class EntryObj;

// The views are reached through these, so that the table needs no Qt.
struct TrafficSink {
    virtual void AppendData(const std::map<std::string, uint64_t>& values) = 0;
};
struct RowCountSink {
    virtual void SetRowCount(int rows) = 0;
};

class PMCTable {
public:
    PMCTable();
    virtual ~PMCTable();
    PMCTable(const PMCTable&) = delete;
    PMCTable& operator=(const PMCTable&) = delete;

    void CreateConnection(const std::string& hostName);
    int32_t CloseConnection();
    int32_t Poll();
    void ClearAll();
    void SetServices(const std::vector<std::string>& names);
    void SetDisplayOptions(int32_t hostForm, int32_t dataUnit);
    void FeedGraph(TrafficSink& graph) const;
    void UpdateRowCount(RowCountSink& grid) const;
    std::string GetCellText(int row, int column) const;  // row from 1
    bool IsConnected() const;                             // m_bConnected
    void SetShowActive(bool showActive);                  // m_bShowActive
    bool IsShowActive() const;
    int32_t HostForm() const;
    int32_t DataUnit() const;
    size_t ActiveCount() const;
    size_t FailedCount() const;
    size_t ClosedCount() const;
    size_t DisplayCount() const;  // length of m_DisplayList
    uint64_t ServiceTraffic(const std::string& service) const;  // 0 when absent
    const std::string& ServerName() const;                      // m_ServerName
    const EntryObj* DisplayEntry(int row) const;                // row from 1; null past the end

private:
    int32_t ReadAndApply();
    void AddTraffic(const std::string& service, uint64_t delta);
    void FileIfFinished(EntryObj* entry);
    void RebuildDisplayList();

    EntryMap m_ActiveMap;
    EntryMap m_FailedMap;   // at most 50
    EntryMap m_ClosedMap;   // closed and not yet shown as such
    EntryMap m_DiscardMap;  // deleted at the next rebuild
    std::vector<EntryObj*> m_DisplayList;  // does not own
    int32_t m_bConnected = 0;
    std::string m_ServerName;
    MonitorConnection* m_pConnection = nullptr;
    std::unordered_map<std::string, uint64_t> m_ServiceTraffic{17};
    int32_t m_HostForm = 1;
    int32_t m_DataUnit = 0;
    int32_t m_bShowActive = 1;
    MonitorRecord m_Record{};
};
