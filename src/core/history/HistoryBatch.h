#pragma once
// What the history keeps, as the UI thread hands it to the writer: one
// applied batch's finished connections, the period's totals and the
// session's connects and disconnects, written as one transaction.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/monitor/MonNetAddress.h"

// A connection that closed or failed. Times in seconds since 1970 (UTC).
struct HistoryConnection {
    std::string m_Server;  // the host name the user connected to
    std::string m_Key;     // the table's connection key ("12:345")
    std::string m_User;
    std::string m_SourceAddr;
    std::string m_SourceName;
    std::string m_DestAddr;
    std::string m_DestName;
    std::string m_Service;
    std::string m_NextServer;
    std::string m_ResultText;
    int64_t m_StartTime = 0;
    int64_t m_EndTime = 0;
    uint64_t m_BytesIn = 0;
    uint64_t m_BytesOut = 0;
    int32_t m_ResultCode = 0;
    int32_t m_Status = 2;  // 1 failed, 2 closed
    int32_t m_AuthMethod = 0;
};

// A text kept in a batch's one buffer of texts.
struct HistoryText {
    uint32_t m_Offset = 0;
    uint32_t m_Length = 0;
};

// A finished connection as the UI thread takes it from the table: its texts
// are copied into the batch's buffer and its addresses kept as they are
// (either family), so that taking one allocates nothing and formats nothing. The
// writer thread makes the HistoryConnection of it.
struct HistoryFinished {
    using Address = MonNetAddress;  // family 0: none
    HistoryText m_Server;
    HistoryText m_Key;
    HistoryText m_User;
    HistoryText m_SourceName;
    HistoryText m_DestName;
    HistoryText m_Service;
    HistoryText m_NextServerName;  // the next server's address stands when it is empty
    HistoryText m_ResultText;
    Address m_SourceAddr{};
    Address m_DestAddr{};
    Address m_NextServerAddr{};
    int32_t m_ResultCode = 0;
    int32_t m_Status = 2;
    int32_t m_AuthMethod = 0;
    int64_t m_StartTime = 0;
    int64_t m_EndTime = 0;
    uint64_t m_BytesIn = 0;
    uint64_t m_BytesOut = 0;
};

struct HistoryTraffic {
    uint64_t m_In = 0;
    uint64_t m_Out = 0;
};

// One record's growth of traffic, as the UI thread takes it: counted for its
// service and its user on the writer thread. Its texts are in the batch's m_Texts.
struct HistoryGrowth {
    HistoryText m_Service;
    HistoryText m_User;
    uint64_t m_In = 0;
    uint64_t m_Out = 0;
};

// One update period of one server: traffic by service and by user, and the
// connections' counts.
struct HistoryPeriod {
    std::string m_Server;
    int64_t m_Time = 0;     // the end of the period
    int64_t m_Seconds = 0;  // its length
    std::map<std::string, HistoryTraffic> m_Services;
    std::map<std::string, HistoryTraffic> m_Users;
    std::vector<HistoryGrowth> m_Growth;  // traffic not yet counted in the two above
    uint32_t m_Active = 0;                // at the end of the period
    uint32_t m_Opened = 0;
    uint32_t m_Closed = 0;
    uint32_t m_Failed = 0;

    // Takes in the period that followed this one: one longer period with the
    // traffic of both. Both have their growth counted.
    void Absorb(const HistoryPeriod& later);
};

struct HistoryEvent {
    enum Kind { Connect = 0, Disconnect = 1, Alert = 2 };
    std::string m_Server;
    int64_t m_Time = 0;
    int32_t m_Kind = Connect;
    std::string m_Text;  // why a disconnect happened (empty when the user chose it); what an alert said
};

struct HistoryBatch {
    std::vector<HistoryConnection> m_Connections;
    std::vector<HistoryFinished> m_Finished;  // their texts are in m_Texts
    std::string m_Texts;
    std::vector<HistoryPeriod> m_Periods;
    std::vector<HistoryEvent> m_Events;

    bool IsEmpty() const {
        return m_Connections.empty() && m_Finished.empty() && m_Periods.empty() && m_Events.empty();
    }
    // Copies a text into m_Texts; what the finished connections refer to.
    // Inline: the UI thread calls it for each text of each finished connection.
    HistoryText AddText(std::string_view text) {
        const HistoryText added{static_cast<uint32_t>(m_Texts.size()),
                                static_cast<uint32_t>(text.size())};
        m_Texts.append(text);
        return added;
    }
    std::string_view Text(HistoryText text) const {
        return std::string_view(m_Texts).substr(text.m_Offset, text.m_Length);
    }
    // The whole connection, with its addresses formatted; `into` is reused
    // so that a writer going through many of them keeps its strings' room.
    void Expand(const HistoryFinished& finished, HistoryConnection& into) const;
    // The period's traffic by service and by user with its growth counted.
    void CountTraffic(const HistoryPeriod& period, std::map<std::string, HistoryTraffic>& services,
                      std::map<std::string, HistoryTraffic>& users) const;
    // Counts every period's growth into its traffic.
    void CountGrowth();
    // Takes in the batch that followed this one; periods of the same server become one.
    void Absorb(HistoryBatch&& later);
};
