#include "core/history/HistoryCsv.h"

#include "core/base/CsvField.h"
#include "core/base/Rfc3339.h"
#include "core/base/Utf8Text.h"
#include "core/table/EntryObj.h"

namespace {

std::string Line(const std::vector<std::string>& fields) {
    return CsvLine(fields, CsvQuoting::WhenNeeded);
}

}  // namespace

std::string HistoryCsv::ConnectionHeader() {
    return Line({"Server", "Key", "User", "Source address", "Source name", "Destination address",
                 "Destination name", "Service", "Next server", "Authentication", "Start", "End",
                 "Bytes in", "Bytes out", "Status", "Result code", "Result"});
}

std::string HistoryCsv::ConnectionRow(const HistoryConnection& c) {
    return Line({MonitorUtf8(c.m_Server), MonitorUtf8(c.m_Key), MonitorUtf8(c.m_User),
                 MonitorUtf8(c.m_SourceAddr), MonitorUtf8(c.m_SourceName),
                 MonitorUtf8(c.m_DestAddr), MonitorUtf8(c.m_DestName), MonitorUtf8(c.m_Service),
                 MonitorUtf8(c.m_NextServer),
                 EntryObj::AuthMethodName(static_cast<uint8_t>(c.m_AuthMethod)),
                 Rfc3339(c.m_StartTime), Rfc3339(c.m_EndTime), std::to_string(c.m_BytesIn),
                 std::to_string(c.m_BytesOut), c.m_Status == 1 ? "failed" : "closed",
                 std::to_string(c.m_ResultCode), MonitorUtf8(c.m_ResultText)});
}

std::string HistoryCsv::TotalHeader() {
    return Line({"Kind", "Name", "Connections", "Bytes in", "Bytes out", "Bytes total"});
}

std::string HistoryCsv::TotalRow(const std::string& kind, const HistoryTotal& total) {
    // Named as the Totals tab shows it: a user of one of several servers with the server's name.
    const std::string name = total.m_Server.empty()
                                 ? MonitorUtf8(total.m_Name)
                                 : MonitorUtf8(total.m_Name) + " @ " + MonitorUtf8(total.m_Server);
    return Line({MonitorUtf8(kind), name, std::to_string(total.m_Connections),
                 std::to_string(total.m_In), std::to_string(total.m_Out),
                 std::to_string(total.m_In + total.m_Out)});
}
