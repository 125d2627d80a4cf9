#pragma once
// The per-session model of a proxy's connections as one monitor reports them:
// owns the monitor connection, runs the poll that reads a batch, keeps the
// active, failed and just-closed entries, builds the rows the grid shows and
// adds up each service's traffic of the interval for the graph.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/base/RepeatedTrace.h"
#include "core/base/SessionLimits.h"
#include "core/monitor/MonBatch.h"
#include "core/monitor/MonStream.h"
#include "core/table/EntryMap.h"
#include "core/table/TableObserver.h"

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
    // Reads a batch and applies it, both here; the same as ReadBatch on
    // another thread followed by ApplyBatch.
    int32_t Poll();

    // The halves of a poll whose network steps run elsewhere. The table lends
    // its connection (and its batch, for the storage) to the reader and takes
    // both back with ApplyBatch; CloseConnection while they are lent leaves
    // the closing to the reader. A refused record leaves the rest of its batch
    // for the next poll, which then needs no reading.
    bool NeedsRead() const;
    MonitorConnection* LendConnection(MonBatch& batch);
    int32_t ApplyBatch(MonitorConnection* connection, MonBatch& batch);
    // A batch applied in slices, so that a huge one never holds up the
    // session's thread for long. TakeBatch takes the connection and the batch
    // back as ApplyBatch does and applies nothing (false, with the connection
    // closed, when the table was closed meanwhile). ApplySlice applies
    // records until `until` and returns ApplyMore while some are left, else
    // what ApplyBatch returns; it also goes on with the rest of a batch a
    // refused record left. Between slices the table may be shown but not
    // polled; the display list, rates and traffic change with the last slice.
    // A batch the monitor spoilt (MonBatch::m_bIllegal) is refused whole.
    static constexpr int32_t ApplyMore = 1;
    bool TakeBatch(MonitorConnection* connection, MonBatch& batch);
    int32_t ApplySlice(std::chrono::steady_clock::time_point until);
    // A slice has been applied and the batch's last not yet.
    bool IsApplying() const { return m_bApplying; }
    // While held, a batch waits whole: ApplySlice applies nothing and says
    // there is more, so the entries on show stay as they are (an export takes
    // them a slice at a time).
    void HoldApply() { ++m_nHolds; }
    void ReleaseApply() { m_nHolds = m_nHolds > 0 ? m_nHolds - 1 : 0; }
    // What Mon_Open gave for this host, taken as CreateConnection takes it.
    void AdoptConnection(const std::string& hostName, MonitorConnection* connection,
                         int32_t openResult);
    // Why the connection ended, in the transport's words; empty while none ended.
    const std::string& LastErrorText() const { return m_LastErrorText; }
    void ClearAll();
    void SetServices(const std::vector<std::string>& names);
    // A monitor names a port it knows no service for by its number ("8000"):
    // such records count for the chosen service with that port. Kept across
    // SetServices; a port whose service is not chosen goes to "Others".
    void SetServicePorts(const std::map<std::string, int32_t>& portOfService);
    void SetDisplayOptions(int32_t hostForm, int32_t dataUnit);
    void FeedGraph(TrafficSink& graph) const;
    void UpdateRowCount(RowCountSink& grid) const;
    std::string GetCellText(int row, int column) const;  // row from 1
    bool IsConnected() const;                            // m_bConnected
    void SetShowActive(bool showActive);                 // m_bShowActive
    // The list of the kind now chosen, at once and without a poll: nothing is
    // filed or deleted (the next poll's rebuild does that), and the closed
    // connections this poll showed stay on the active list.
    void RelistForShow();
    bool IsShowActive() const;
    int32_t HostForm() const;
    int32_t DataUnit() const;
    size_t ActiveCount() const;
    size_t FailedCount() const;
    size_t ClosedCount() const;
    size_t DisplayCount() const;                                // length of m_DisplayList
    uint64_t ServiceTraffic(const std::string& service) const;  // 0 when absent
    const std::string& ServerName() const;                      // m_ServerName
    const EntryObj* DisplayEntry(int row) const;                // row from 1; null past the end
    // Changes whenever the display list is made again (its entries may then be gone).
    uint64_t DisplayListVersion() const { return m_DisplayListVersion; }
    // The clock the rates are measured with, in milliseconds of a steady
    // clock; tests set their own. A poll applied reads it once.
    void SetClock(std::function<int64_t()> milliseconds);
    // How many active and just-closed connections the table keeps; a new one
    // is refused while they number more than this (50 unless set).
    void SetConnectionLimit(size_t limit);
    size_t ConnectionLimit() const { return m_ConnectionLimit; }
    // New connections refused for want of room in the last poll.
    size_t DroppedCount() const;
    // Told of every applied record and finished connection; null: nobody.
    void SetObserver(TableObserver* observer) { m_pObserver = observer; }

private:
    void DropConnection();
    int32_t OutOfMemory();
    int32_t ApplyPending();
    void StartApply();
    int32_t FinishApply(int32_t result);
    int32_t ApplyNext();
    void FormatUnlessShownLater(EntryObj* entry);
    void AddTraffic(const std::string& service, uint64_t delta);
    void FileIfFinished(EntryObj* entry);
    void CountDropped(uint64_t key);
    void Observe(const EntryObj& entry, uint64_t totalIn, uint64_t totalOut);
    void RebuildDisplayList();
    void MeasureRates();

    EntryMap m_ActiveMap;
    EntryMap m_FailedMap;                  // at most the connection limit
    EntryMap m_ClosedMap;                  // closed and not yet shown as such
    EntryMap m_DiscardMap;                 // deleted at the next rebuild
    std::vector<EntryObj*> m_DisplayList;  // does not own
    int32_t m_bConnected = 0;
    std::string m_ServerName;
    MonitorConnection* m_pConnection = nullptr;
    std::unordered_map<std::string, uint64_t> m_ServiceTraffic{17};
    std::unordered_map<std::string, std::string> m_ServiceOfPort;  // "8000" -> "devserver"
    int32_t m_HostForm = 1;
    int32_t m_DataUnit = 0;
    int32_t m_bShowActive = 1;
    MonitorRecord m_Record{};
    MonBatch m_Batch;
    bool m_bBatchPending = false;  // records or the end of the last batch not yet applied
    bool m_bLent = false;
    bool m_bApplying = false;  // a batch's apply has started and not finished
    int m_nHolds = 0;
    uint64_t m_DisplayListVersion = 0;
    bool m_bFinishPending = false;  // the batch is applied; its display list is rebuilt next
    int32_t m_FinishResult = 0;
    bool m_bRefused = false;   // the batch being applied is refused whole
    std::string m_LastErrorText;
    std::function<int64_t()> m_Clock;
    int64_t m_LastPollTime = -1;  // of the last poll applied on this connection; -1 none
    size_t m_ConnectionLimit = DefaultConnectionLimit;
    // The connections refused in the poll being applied or the last one; a
    // connection's every record is refused, so they are counted by id.
    std::unordered_set<uint64_t> m_Dropped;
    size_t m_DroppedBeyond = 0;
    TableObserver* m_pObserver = nullptr;
    // An entry whose id pair its target map already holds; deleted when the
    // display list is rebuilt, as it may still be on show until then.
    std::vector<std::unique_ptr<EntryObj>> m_Orphans;
    RepeatedTrace m_BufferFullTrace{"Buffer full"};
    RepeatedTrace m_BadDataTrace{"Bad data from server"};
    RepeatedTrace m_NoOthersTrace{"Failed to find \"Others\" subset"};
    RepeatedTrace m_NotActiveTrace{"Cannot remove key from m_ActiveMap"};
};
