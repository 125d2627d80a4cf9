#include "core/history/HistoryCsv.h"

#include <ctime>

#include "core/table/EntryObj.h"

namespace {

bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t more = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
        } else if (lead >= 0x80) {
            return false;
        }
        if (more > text.size() - i - 1) return false;
        for (size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += more + 1;
    }
    return true;
}

std::string Join(std::initializer_list<std::string> fields) {
    std::string line;
    for (const std::string& field : fields) {
        if (!line.empty()) line += ',';
        line += field;
    }
    return line + "\r\n";
}

}  // namespace

std::string HistoryCsv::Utf8(const std::string& text) {
    if (IsUtf8(text)) return text;
    std::string converted;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            converted += c;
        } else {
            converted += static_cast<char>(0xC0 | (byte >> 6));
            converted += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return converted;
}

std::string HistoryCsv::Field(const std::string& text) {
    const std::string utf8 = Utf8(text);
    if (utf8.find_first_of(",\"\r\n") == std::string::npos) return utf8;
    std::string quoted = "\"";
    for (char c : utf8) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string HistoryCsv::Time(int64_t seconds) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

std::string HistoryCsv::ConnectionHeader() {
    return Join({"Server", "Key", "User", "Source address", "Source name", "Destination address",
                 "Destination name", "Service", "Next server", "Authentication", "Start", "End",
                 "Bytes in", "Bytes out", "Status", "Result code", "Result"});
}

std::string HistoryCsv::ConnectionRow(const HistoryConnection& c) {
    return Join({Field(c.m_Server), Field(c.m_Key), Field(c.m_User), Field(c.m_SourceAddr),
                 Field(c.m_SourceName), Field(c.m_DestAddr), Field(c.m_DestName),
                 Field(c.m_Service), Field(c.m_NextServer),
                 Field(EntryObj::AuthMethodName(static_cast<uint8_t>(c.m_AuthMethod))),
                 Time(c.m_StartTime), Time(c.m_EndTime), std::to_string(c.m_BytesIn),
                 std::to_string(c.m_BytesOut), c.m_Status == 1 ? "failed" : "closed",
                 std::to_string(c.m_ResultCode), Field(c.m_ResultText)});
}

std::string HistoryCsv::TotalHeader() {
    return Join({"Kind", "Name", "Connections", "Bytes in", "Bytes out", "Bytes total"});
}

std::string HistoryCsv::TotalRow(const std::string& kind, const HistoryTotal& total) {
    return Join({Field(kind), Field(total.m_Name), std::to_string(total.m_Connections),
                 std::to_string(total.m_In), std::to_string(total.m_Out),
                 std::to_string(total.m_In + total.m_Out)});
}
