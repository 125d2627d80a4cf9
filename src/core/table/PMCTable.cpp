#include "core/table/PMCTable.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "core/base/Trace.h"
#include "core/base/WaitCursor.h"
#include "core/monitor/MonTcpLink.h"
#include "core/table/EntryObj.h"

namespace {

constexpr int32_t StatusFailed = 1;
constexpr int32_t StatusClosed = 2;

void DeleteEntries(EntryMap& map) {
    for (const auto& item : map) delete item.second;
    map.Clear();
}

void Reformat(const EntryMap& map, int32_t hostForm, int32_t dataUnit) {
    for (const auto& item : map) item.second->SetDisplay(hostForm, dataUnit);
}

}  // namespace

PMCTable::PMCTable()
    : m_Clock([] {
          return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
      }) {}

void PMCTable::SetClock(std::function<int64_t()> milliseconds) {
    m_Clock = std::move(milliseconds);
}

PMCTable::~PMCTable() {
    ClearAll();
    if (m_pConnection != nullptr) CloseConnection();
}

void PMCTable::CreateConnection(const std::string& hostName) {
    if (hostName.empty()) {
        GW_TRACE("No Name");
        return;
    }
    GWWaitCursor wait;
    DropConnection();
    MonitorConnection* connection = nullptr;
    const int32_t result = Mon_Open(hostName.c_str(), &connection);
    AdoptConnection(hostName, connection, result);
}

void PMCTable::AdoptConnection(const std::string& hostName, MonitorConnection* connection,
                               int32_t openResult) {
    if (hostName.empty()) {
        GW_TRACE("No Name");
        Mon_Close(connection);
        return;
    }
    DropConnection();
    m_pConnection = connection;
    m_Batch.Clear();
    m_bBatchPending = false;
    m_LastErrorText.clear();
    m_LastPollTime = -1;
    if (openResult != 0) {
        if (connection != nullptr) m_LastErrorText = connection->m_LastErrorText;
        GW_TRACE("Connection Failed.");
        return;
    }
    GW_TRACE("Connection established.");
    m_bConnected = 1;
    m_ServerName = hostName;
}

void PMCTable::DropConnection() {
    // A block left from an earlier attempt would be lost when a new one
    // takes its place.
    if (m_pConnection != nullptr) {
        Mon_Close(m_pConnection);
        m_pConnection = nullptr;
        m_bConnected = 0;
    }
}

int32_t PMCTable::CloseConnection() {
    int32_t result = -2;
    if (m_pConnection != nullptr) {
        result = Mon_Close(m_pConnection);
        m_pConnection = nullptr;
    } else if (m_bLent) {
        result = 0;  // the reader that holds it closes it
    }
    m_bLent = false;
    m_bBatchPending = false;
    m_bApplying = false;
    m_bFinishPending = false;
    m_Batch.Clear();
    if (result == -2) {
        GW_TRACE(
            "Connection was already Closed. You called CloseConnection twice !\nor the "
            "CreateConnection(..) was never successful.");
    } else if (result == -1) {
        GW_TRACE("Connection Close Failed");
    } else {
        GW_TRACE("Connection Closed.");
    }
    m_bConnected = 0;
    return result;
}

int32_t PMCTable::Poll() {
    if (NeedsRead()) {
        try {
            Mon_ReadBatch(m_pConnection, m_Batch, GetSessionLimits());
        } catch (const std::bad_alloc&) {
            return OutOfMemory();
        }
        m_bBatchPending = true;
    }
    return ApplyPending();
}

bool PMCTable::NeedsRead() const {
    return m_bConnected == 1 && m_pConnection != nullptr && !m_bBatchPending;
}

MonitorConnection* PMCTable::LendConnection(MonBatch& batch) {
    if (!NeedsRead()) return nullptr;
    std::swap(batch, m_Batch);
    m_bLent = true;
    return std::exchange(m_pConnection, nullptr);
}

int32_t PMCTable::ApplyBatch(MonitorConnection* connection, MonBatch& batch) {
    if (!TakeBatch(connection, batch)) return 0;
    return ApplyPending();
}

bool PMCTable::TakeBatch(MonitorConnection* connection, MonBatch& batch) {
    if (!m_bLent) {
        // The connection was closed meanwhile; what was read is of no use.
        Mon_Close(connection);
        return false;
    }
    m_bLent = false;
    m_pConnection = connection;
    std::swap(m_Batch, batch);
    m_bBatchPending = true;
    return true;
}

// Out of memory: nothing of this session can be trusted any more.
int32_t PMCTable::OutOfMemory() {
    CloseConnection();
    ClearAll();
    return -1;
}

int32_t PMCTable::ApplyPending() {
    return ApplySlice(std::chrono::steady_clock::time_point::max());
}

int32_t PMCTable::ApplySlice(std::chrono::steady_clock::time_point until) {
    // The clock is read every so many records: reading it costs more than
    // most records do.
    constexpr unsigned RecordsPerLook = 64;
    // Rebuilding the display list of 100,000 connections is a slice's work
    // of its own: after this many records it waits for the next slice.
    constexpr unsigned RecordsBeforeOwnFinish = 4096;
    const bool bounded = until != std::chrono::steady_clock::time_point::max();
    int32_t result = 0;
    if (m_nHolds > 0) return ApplyMore;
    try {
        if (m_bFinishPending) {
            m_bFinishPending = false;
            return FinishApply(m_FinishResult);
        }
        if (!m_bApplying) StartApply();
        // A refused record (0) ends the poll although the batch goes on; the
        // next poll applies the rest of it without a new request.
        unsigned count = 1;
        for (; (result = ApplyNext()) > 0; ++count) {
            if (bounded && count % RecordsPerLook == 0 &&
                std::chrono::steady_clock::now() >= until) {
                return ApplyMore;
            }
        }
        if (bounded && count > RecordsBeforeOwnFinish) {
            m_bFinishPending = true;
            m_FinishResult = result;
            return ApplyMore;
        }
        return FinishApply(result);
    } catch (const std::bad_alloc&) {
        m_bApplying = false;
        m_bFinishPending = false;
        return OutOfMemory();
    }
}

void PMCTable::StartApply() {
    m_bApplying = true;
    for (auto& item : m_ServiceTraffic) item.second = 0;
    m_Dropped.clear();
    m_DroppedBeyond = 0;
    // The reader knew the batch was spoilt when it ended: none of it is
    // applied, rather than all of it up to the fault.
    m_bRefused = m_bBatchPending && m_Batch.m_bIllegal;
    if (m_bRefused) m_Batch.SkipRest();
}

int32_t PMCTable::FinishApply(int32_t result) {
    m_bApplying = false;
    if (!m_bRefused) {
        RebuildDisplayList();
        MeasureRates();
        for (EntryObj* entry : m_DisplayList) entry->SetDisplay(m_HostForm, m_DataUnit);
    }
    for (RepeatedTrace* trace :
         {&m_BufferFullTrace, &m_BadDataTrace, &m_NoOthersTrace, &m_NotActiveTrace}) {
        trace->Flush();
    }
    if (result < 0) {
        m_LastErrorText = m_Batch.m_ErrorText;
        GW_TRACE(("Connection lost: " + m_LastErrorText).c_str());
        m_bConnected = 0;
        CloseConnection();
    } else if (!m_bBatchPending) {
        m_Batch.Clear();  // gives back what a huge batch took
    }
    return result;
}

int32_t PMCTable::ApplyNext() {
    if (m_bConnected != 1 || !m_bBatchPending) return 0;
    const uint8_t* body = nullptr;
    uint16_t length = 0;
    if (!m_Batch.Next(body, length)) {
        m_bBatchPending = false;
        return m_Batch.m_Result;
    }
    std::memset(&m_Record, 0, sizeof m_Record);
    // The reader let only valid records in.
    Mon_DecodeVersion(m_Batch.m_Version, length, body, &m_Record);

    const uint64_t key = EntryObj::IdOf(m_Record.m_IdHigh, m_Record.m_IdLow);
    uint64_t delta = 0;
    EntryObj* entry = m_ActiveMap.Find(key);
    if (entry == nullptr) {
        // The limit holds for new connections only: one over is still let in.
        if (m_ActiveMap.Size() + m_ClosedMap.Size() > m_ConnectionLimit) {
            GW_TRACE_REPEATED(m_BufferFullTrace);
            CountDropped(key);
            return 1;
        }
        if (!MonIsOpenWord(m_Record.m_Kind)) {
            GW_TRACE_REPEATED(m_BadDataTrace);
            return 1;
        }
        auto fresh = std::make_unique<EntryObj>();
        if (fresh->Apply(m_Record, delta) == 0) return 0;
        // A connection new since the last poll moved all its bytes since then;
        // one found by the first poll has no base.
        fresh->m_RateSince = m_LastPollTime;
        m_ActiveMap.Insert(key, fresh.get());
        entry = fresh.release();
        if (m_pObserver != nullptr)
            m_pObserver->EntryChanged(*entry, entry->m_TotalIn, entry->m_TotalOut, true);
        FormatUnlessShownLater(entry);
        AddTraffic(entry->m_Service, delta);
        return 1;
    }

    const uint64_t totalIn = entry->m_TotalIn;
    const uint64_t totalOut = entry->m_TotalOut;
    if (entry->Apply(m_Record, delta) == 0) return 0;
    if (m_pObserver != nullptr) Observe(*entry, totalIn, totalOut);
    // Formatted and counted before it is filed: filing may delete it.
    FormatUnlessShownLater(entry);
    AddTraffic(entry->m_Service, delta);
    FileIfFinished(entry);
    return 1;
}

// The ids are kept so that a connection's several records count once; a
// flood of new connections beyond DroppedIdsKept is counted by their open
// records (one each) instead, as growing the set that far would take its
// memory and, rehashing, hold up the apply in one go.
void PMCTable::CountDropped(uint64_t key) {
    constexpr size_t DroppedIdsKept = 65536;
    if (m_Dropped.size() < DroppedIdsKept) {
        m_Dropped.insert(key);
    } else if (MonIsOpenWord(m_Record.m_Kind) && m_Dropped.count(key) == 0) {
        ++m_DroppedBeyond;
    }
}

// A total that went down is a counter that started again: all of it is new.
void PMCTable::Observe(const EntryObj& entry, uint64_t totalIn, uint64_t totalOut) {
    const uint64_t growthIn =
        entry.m_TotalIn >= totalIn ? entry.m_TotalIn - totalIn : entry.m_TotalIn;
    const uint64_t growthOut =
        entry.m_TotalOut >= totalOut ? entry.m_TotalOut - totalOut : entry.m_TotalOut;
    m_pObserver->EntryChanged(entry, growthIn, growthOut, false);
    if (entry.m_bFinished) m_pObserver->EntryFinished(entry, m_Record);
}

// An entry that stays active while active ones are shown is formatted with
// the rest of the display list at the end of the poll; formatting it at each
// of its records as well would only be overwritten.
void PMCTable::FormatUnlessShownLater(EntryObj* entry) {
    if (m_bShowActive == 1 && !entry->m_bFinished) return;
    entry->SetDisplay(m_HostForm, m_DataUnit);
}

void PMCTable::AddTraffic(const std::string& service, uint64_t delta) {
    auto found = m_ServiceTraffic.find(service);
    if (found == m_ServiceTraffic.end()) {
        if (auto named = m_ServiceOfPort.find(service); named != m_ServiceOfPort.end()) {
            found = m_ServiceTraffic.find(named->second);
        }
    }
    if (found == m_ServiceTraffic.end()) found = m_ServiceTraffic.find("Others");
    if (found == m_ServiceTraffic.end()) {
        GW_TRACE_REPEATED(m_NoOthersTrace);
        return;
    }
    found->second += delta;
}

void PMCTable::FileIfFinished(EntryObj* entry) {
    if (!entry->m_bFinished) return;
    if (m_ActiveMap.Remove(entry->Id()) == nullptr) {
        GW_TRACE_REPEATED(m_NotActiveTrace);
        return;
    }
    // Out of m_ActiveMap the entry is owned here until a map takes it; one
    // whose key its target map already holds (an id pair the monitor reused)
    // is an orphan, deleted with the next rebuild: until then it may be on show.
    std::unique_ptr<EntryObj> owned(entry);
    EntryMap* target = &m_DiscardMap;
    if (entry->m_Status == StatusFailed && m_FailedMap.Size() < m_ConnectionLimit) {
        target = &m_FailedMap;
    } else if (entry->m_Status == StatusClosed) {
        target = &m_ClosedMap;
    }
    if (target->Insert(entry->Id(), entry)) {
        owned.release();
    } else {
        m_Orphans.push_back(std::move(owned));
    }
}

void PMCTable::RebuildDisplayList() {
    ++m_DisplayListVersion;
    DeleteEntries(m_DiscardMap);
    m_Orphans.clear();
    m_DisplayList.clear();
    if (m_bShowActive == 1) {
        m_DisplayList.reserve(m_ActiveMap.Size() + m_ClosedMap.Size());
        for (const auto& item : m_ActiveMap) m_DisplayList.push_back(item.second);
        // A connection that closed is shown this once and deleted at the next rebuild.
        for (const auto& item : m_ClosedMap) m_DisplayList.push_back(item.second);
        m_DiscardMap.Swap(m_ClosedMap);
    } else {
        m_DisplayList.reserve(m_FailedMap.Size());
        for (const auto& item : m_FailedMap) m_DisplayList.push_back(item.second);
    }
}

// Every connection still open is measured, also those that sent no record
// (they moved nothing); finished ones have no rate.
void PMCTable::MeasureRates() {
    const int64_t now = m_Clock();
    for (const auto& item : m_ActiveMap) item.second->MeasureRate(now);
    for (const auto& item : m_DiscardMap) item.second->MeasureRate(now);
    for (const auto& item : m_FailedMap) item.second->MeasureRate(now);
    m_LastPollTime = now;
}

void PMCTable::RelistForShow() {
    ++m_DisplayListVersion;
    m_DisplayList.clear();
    if (m_bShowActive == 1) {
        for (const auto& item : m_ActiveMap) m_DisplayList.push_back(item.second);
        for (const auto& item : m_DiscardMap) m_DisplayList.push_back(item.second);
    } else {
        for (const auto& item : m_FailedMap) m_DisplayList.push_back(item.second);
    }
    for (EntryObj* entry : m_DisplayList) entry->SetDisplay(m_HostForm, m_DataUnit);
}

void PMCTable::ClearAll() {
    ++m_DisplayListVersion;
    m_DisplayList.clear();
    m_Orphans.clear();
    DeleteEntries(m_ActiveMap);
    DeleteEntries(m_FailedMap);
    DeleteEntries(m_ClosedMap);
    DeleteEntries(m_DiscardMap);
}

void PMCTable::SetServices(const std::vector<std::string>& names) {
    m_ServiceTraffic.clear();
    for (const std::string& name : names) m_ServiceTraffic.emplace(name, 0);
}

void PMCTable::SetServicePorts(const std::map<std::string, int32_t>& portOfService) {
    m_ServiceOfPort.clear();
    for (const auto& [name, port] : portOfService) {
        if (port > 0) m_ServiceOfPort.emplace(std::to_string(port), name);
    }
}

void PMCTable::SetDisplayOptions(int32_t hostForm, int32_t dataUnit) {
    m_HostForm = hostForm;
    m_DataUnit = dataUnit;
    Reformat(m_ActiveMap, hostForm, dataUnit);
    Reformat(m_ClosedMap, hostForm, dataUnit);
    Reformat(m_FailedMap, hostForm, dataUnit);
    // Connections that closed in the last poll are still on show until the next one.
    Reformat(m_DiscardMap, hostForm, dataUnit);
}

void PMCTable::FeedGraph(TrafficSink& graph) const {
    const std::map<std::string, uint64_t> values(m_ServiceTraffic.begin(), m_ServiceTraffic.end());
    graph.AppendData(values);
}

void PMCTable::UpdateRowCount(RowCountSink& grid) const {
    grid.SetRowCount(static_cast<int>(m_DisplayList.size()));
}

std::string PMCTable::GetCellText(int row, int column) const {
    const EntryObj* entry = DisplayEntry(row);
    return entry != nullptr ? entry->GetColumnText(column) : std::string();
}

const EntryObj* PMCTable::DisplayEntry(int row) const {
    if (row < 1 || static_cast<size_t>(row) > m_DisplayList.size()) return nullptr;
    return m_DisplayList[static_cast<size_t>(row) - 1];
}

bool PMCTable::IsConnected() const {
    return m_bConnected != 0;
}
void PMCTable::SetShowActive(bool showActive) {
    m_bShowActive = showActive ? 1 : 0;
}
bool PMCTable::IsShowActive() const {
    return m_bShowActive != 0;
}
int32_t PMCTable::HostForm() const {
    return m_HostForm;
}
int32_t PMCTable::DataUnit() const {
    return m_DataUnit;
}
size_t PMCTable::ActiveCount() const {
    return m_ActiveMap.Size();
}
size_t PMCTable::FailedCount() const {
    return m_FailedMap.Size();
}
size_t PMCTable::ClosedCount() const {
    return m_ClosedMap.Size();
}
void PMCTable::SetConnectionLimit(size_t limit) {
    m_ConnectionLimit = limit;
}
size_t PMCTable::DroppedCount() const {
    return m_Dropped.size() + m_DroppedBeyond;
}
size_t PMCTable::DisplayCount() const {
    return m_DisplayList.size();
}
const std::string& PMCTable::ServerName() const {
    return m_ServerName;
}

uint64_t PMCTable::ServiceTraffic(const std::string& service) const {
    auto found = m_ServiceTraffic.find(service);
    return found != m_ServiceTraffic.end() ? found->second : 0;
}
