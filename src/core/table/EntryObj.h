#pragma once
// One proxied connection as the monitor reports it: identity, addresses,
// names, times, byte counts, state, and its text for each grid column. The
// texts are made when first asked for after a change, so that a table of
// many connections formats only the rows that are painted, copied or sorted.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "core/monitor/MonStream.h"
#include "core/table/ColumnInfo.h"

class EntryObj {
public:
    int32_t Apply(const MonitorRecord& record, uint64_t& delta);  // 1 taken, 0 refused
    void SetDisplay(int32_t hostForm, int32_t dataUnit);
    // The same with the clock given, in seconds since 1970-01-01 UTC: the
    // duration of a connection still running is the span up to `now`. The
    // form above uses the system clock.
    void SetDisplay(int32_t hostForm, int32_t dataUnit, int64_t now);
    const std::string& GetColumnText(int column) const;  // 0 .. g_nColumns - 1
    // The number a numeric column's text shows (start time, duration in
    // seconds, bytes), for sorting; 0 for a text column.
    uint64_t ColumnNumber(int column) const;
    // The seconds from the start to the end of a finished connection, or to
    // `now` while it runs; never below 0.
    int64_t Span(int64_t now) const;
    static void MakeKey(uint32_t idHigh, uint32_t idLow, std::string& key);
    // The id pair as one number: the table's key for the connection. Both
    // ids 0 is never a connection, so 0 stands for none.
    static uint64_t IdOf(uint32_t idHigh, uint32_t idLow) { return uint64_t{idHigh} << 32 | idLow; }
    uint64_t Id() const { return IdOf(m_IdHigh, m_IdLow); }
    // The name of a SOCKS5 authentication method, as the Authentification column shows it.
    static std::string AuthMethodName(uint8_t method);
    static const std::string& AuthMethodText(uint8_t method);  // the same, made once
    // Four address bytes as a dotted quad ("10.0.0.1").
    static void FormatIpv4(const uint8_t* quad, std::string& text);
    // The port of an address; 0 when it was not sent.
    static uint16_t PortOf(const MonNetAddress& address) { return address.m_Port; }

    int32_t m_Status = 0;  // 0 active, 1 failed, 2 closed
    int32_t m_bFinished = 0;

    uint32_t m_IdHigh = 0;
    uint32_t m_IdLow = 0;
    int32_t m_Kind = 0;
    int64_t m_StartTime = 0;  // seconds since 1970-01-01 UTC; 0 until an open record
    int64_t m_EndTime = 0;    // the same clock; 0 until the connection has ended
    uint32_t m_BytesIn = 0;   // the first version's 32-bit running totals, as last received
    uint32_t m_BytesOut = 0;
    // The bytes each way as the grid shows them. From a first-version monitor
    // the wire's total plus 2^32 for each time it has passed 2^32 (a counter
    // that starts again starts these again); from a second-version one its
    // 64-bit totals as they are.
    uint64_t m_TotalIn = 0;
    uint64_t m_TotalOut = 0;
    int32_t m_FailureCode = 0;
    // Addresses with their ports, of either family; family 0 while none is known.
    MonNetAddress m_Source{};
    MonNetAddress m_NextServer{};
    MonNetAddress m_Dest{};
    uint8_t m_AuthMethod = 0;
    int32_t m_bOpened = 0;  // an open record has been applied (the auth column shows from then on)
    std::string m_UserName;
    std::string m_Service;
    std::string m_SourceName;
    std::string m_NextServerName;
    std::string m_DestName;
    std::string m_ResultText;
    std::string m_Key;
    uint64_t m_LastTotal = 0;  // m_TotalIn + m_TotalOut

    // Bytes per second each way over the last poll period: the growth since
    // the poll at m_RateSince (steady milliseconds) over the time between the
    // two polls. Negative while not measured: before a connection's second
    // poll (the first one's bytes were counted before VGL watched) and once it
    // has finished.
    bool HasRate() const { return m_RateIn >= 0; }
    // Measures the rates at a poll at `now` and makes that poll the next base.
    void MeasureRate(int64_t now);
    // A rate in the data unit per second ("12.5 KB/s"); empty while not measured.
    static void FormatRate(double bytesPerSecond, int32_t dataUnit, std::string& text);
    // Bytes in the data unit, as the traffic columns show them ("1.50K").
    static void FormatBytes(uint64_t bytes, int32_t dataUnit, std::string& text);
    double m_RateIn = -1;
    double m_RateOut = -1;
    int64_t m_RateSince = -1;  // -1: no base yet
    uint64_t m_RateBaseIn = 0;
    uint64_t m_RateBaseOut = 0;

private:
    // The columns whose texts are made here rather than kept in a field.
    enum Slot : uint8_t {
        SlotSource,
        SlotDestination,
        SlotNextServer,
        SlotStartTime,
        SlotDuration,
        SlotIn,
        SlotOut,
        SlotTotal,
        SlotInRate,
        SlotOutRate,
        SlotDestPort,
        SlotCount
    };
    const std::string& MadeText(Slot slot) const;
    void Format(Slot slot) const;
    void Stale(Slot slot) { m_Fresh &= static_cast<uint16_t>(~(1u << slot)); }

    int32_t m_HostForm = 1;
    int32_t m_DataUnit = 0;
    int64_t m_Now = 0;
    bool m_bDisplaySet = false;    // SetDisplay has run: the texts that depend on it can be made
    mutable uint16_t m_Fresh = 0;  // a bit per slot whose text is up to date
    // Made on the first text asked for: a connection never painted, copied or
    // sorted by text costs no room for them.
    mutable std::unique_ptr<std::array<std::string, SlotCount>> m_pMade;
};
