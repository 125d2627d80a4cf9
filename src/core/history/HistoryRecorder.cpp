#include "core/history/HistoryRecorder.h"

#include <ctime>

#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"

void HistoryRecorder::Connected(const std::string& server, int64_t now) {
    if (!m_Server.empty()) {
        // A new connection replaced the session's last one without a disconnect.
        HistoryEvent end;
        end.m_Server = m_Server;
        end.m_Time = now;
        end.m_Kind = HistoryEvent::Disconnect;
        m_Batch.m_Events.push_back(std::move(end));
    }
    m_Server = server;
    m_bServerInBatch = false;
    m_PeriodStart = now;
    m_bBaseline = true;
    m_Period = HistoryPeriod{};
    HistoryEvent event;
    event.m_Server = server;
    event.m_Time = now;
    event.m_Kind = HistoryEvent::Connect;
    m_Batch.m_Events.push_back(std::move(event));
}

HistoryBatch HistoryRecorder::Disconnected(const std::string& why, int64_t now) {
    if (m_Server.empty()) return HistoryBatch{};
    HistoryEvent event;
    event.m_Server = m_Server;
    event.m_Time = now;
    event.m_Kind = HistoryEvent::Disconnect;
    event.m_Text = why;
    m_Batch.m_Events.push_back(std::move(event));
    m_Server.clear();
    m_Period = HistoryPeriod{};
    return Take();
}

HistoryBatch HistoryRecorder::PeriodDone(const PMCTable& table, int64_t now) {
    if (m_Server.empty()) return HistoryBatch{};
    m_Period.m_Server = m_Server;
    m_Period.m_Time = now;
    m_Period.m_Seconds = now - m_PeriodStart;
    m_Period.m_Active = static_cast<uint32_t>(table.ActiveCount());
    if (m_bBaseline) {
        // What the first batch brings was mostly moved before VGL connected:
        // counted as this period's traffic it would be a spike that never was.
        m_Period.m_Growth.clear();
        m_bBaseline = false;
    }
    m_LastGrowth = m_Period.m_Growth.size();
    m_Batch.m_Periods.push_back(std::move(m_Period));
    m_Period = HistoryPeriod{};
    m_PeriodStart = now;
    return Take();
}

void HistoryRecorder::EntryChanged(const EntryObj& entry, uint64_t growthIn, uint64_t growthOut,
                                   bool opened) {
    if (m_Server.empty()) return;
    if (opened) ++m_Period.m_Opened;
    if (growthIn == 0 && growthOut == 0) return;
    // Only copied here; the writer thread adds it up by name.
    if (m_Period.m_Growth.empty()) m_Period.m_Growth.reserve(m_LastGrowth);
    if (m_Batch.m_Texts.empty()) m_Batch.m_Texts.reserve(m_LastTexts);
    HistoryGrowth& growth = m_Period.m_Growth.emplace_back();
    growth.m_Service = m_Batch.AddText(entry.m_Service);
    growth.m_User = m_Batch.AddText(entry.m_UserName);
    growth.m_In = growthIn;
    growth.m_Out = growthOut;
}

void HistoryRecorder::EntryFinished(const EntryObj& entry, const MonitorRecord& record) {
    if (m_Server.empty()) return;
    if (m_Batch.m_Finished.empty()) m_Batch.m_Finished.reserve(m_LastFinished);
    if (m_Batch.m_Texts.empty()) m_Batch.m_Texts.reserve(m_LastTexts);
    // The server's name is the same for the whole batch: kept once.
    if (!m_bServerInBatch) {
        m_ServerText = m_Batch.AddText(m_Server);
        m_bServerInBatch = true;
    }
    HistoryFinished& f = m_Batch.m_Finished.emplace_back();
    f.m_Server = m_ServerText;
    f.m_Key = m_Batch.AddText(entry.m_Key);
    f.m_User = m_Batch.AddText(entry.m_UserName);
    f.m_SourceName = m_Batch.AddText(entry.m_SourceName);
    f.m_DestName = m_Batch.AddText(entry.m_DestName);
    f.m_Service = m_Batch.AddText(entry.m_Service);
    f.m_NextServerName = m_Batch.AddText(entry.m_NextServerName);
    f.m_ResultText = m_Batch.AddText(entry.m_ResultText);
    f.m_SourceAddr = entry.m_Source;
    f.m_DestAddr = entry.m_Dest;
    f.m_NextServerAddr = entry.m_NextServer;
    f.m_StartTime = entry.m_StartTime;
    // Our monitors send the end in the close record; others leave it 0.
    const uint64_t end = record.m_Version == 2 ? record.m_EndTime64 : record.m_CloseValue;
    f.m_EndTime = end != 0 ? static_cast<int64_t>(end) : static_cast<int64_t>(std::time(nullptr));
    f.m_BytesIn = entry.m_TotalIn;
    f.m_BytesOut = entry.m_TotalOut;
    f.m_ResultCode = entry.m_FailureCode;
    f.m_Status = entry.m_Status;
    f.m_AuthMethod = entry.m_AuthMethod;
    if (entry.m_Status == 1) {
        ++m_Period.m_Failed;
    } else {
        ++m_Period.m_Closed;
    }
}

HistoryBatch HistoryRecorder::Take() {
    m_LastFinished = m_Batch.m_Finished.size();
    m_LastTexts = m_Batch.m_Texts.size();
    m_bServerInBatch = false;
    HistoryBatch batch = std::move(m_Batch);
    m_Batch = HistoryBatch{};
    return batch;
}
