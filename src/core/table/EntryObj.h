#pragma once
// One proxied connection as the monitor reports it: identity, addresses,
// names, times, byte counts, state, and one ready-made text per grid column.

#include <array>
#include <cstdint>
#include <string>

#include "core/monitor/MonStream.h"

class EntryObj {
public:
    int32_t Apply(const MonitorRecord& record, uint64_t& delta);  // 1 taken, 0 refused
    void SetDisplay(int32_t hostForm, int32_t dataUnit);
    // The same with the clock given, in seconds since 1970-01-01 UTC: the
    // duration column is the span up to `now`. The form above uses the system clock.
    void SetDisplay(int32_t hostForm, int32_t dataUnit, int64_t now);
    const std::string& GetColumnText(int column) const;  // 0..10
    static void MakeKey(uint32_t idHigh, uint32_t idLow, std::string& key);
    // An open record's kind word has the value 4 set; a close record's has the top bit clear.
    static bool IsOpenKind(uint32_t kind) { return (kind & 4u) != 0; }
    static bool IsCloseKind(uint32_t kind) { return (kind & 0x80000000u) == 0; }
    // The name of a SOCKS5 authentication method, as the Authentification column shows it.
    static std::string AuthMethodName(uint8_t method);

    int32_t m_Status = 0;  // 0 active, 1 failed, 2 closed
    int32_t m_bFinished = 0;

    uint32_t m_IdHigh = 0;
    uint32_t m_IdLow = 0;
    int32_t m_Kind = 0;
    int64_t m_StartTime = 0;  // seconds since 1970-01-01 UTC; 0 until an open record
    uint32_t m_BytesIn = 0;   // the wire's running totals, as last received
    uint32_t m_BytesOut = 0;
    // The bytes each way as the grid shows them: the wire's total plus 2^32 for
    // each time it has passed 2^32 (a counter that starts again starts these again).
    uint64_t m_TotalIn = 0;
    uint64_t m_TotalOut = 0;
    int32_t m_FailureCode = 0;
    uint8_t m_SourceAddr[16] = {};
    uint8_t m_NextServerAddr[16] = {};
    uint8_t m_DestAddr[16] = {};
    uint8_t m_AuthMethod = 0;
    int32_t m_bOpened = 0;  // an open record has been applied (the auth column shows from then on)
    int32_t m_AuthShown = -1;  // the method the Authentification column was built for
    std::string m_UserName;
    std::string m_Service;
    std::string m_SourceName;
    std::string m_NextServerName;
    std::string m_DestName;
    std::string m_ResultText;
    std::array<std::string, 11> m_Columns;
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
};
