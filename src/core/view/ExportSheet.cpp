#include "core/view/ExportSheet.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "core/base/CsvField.h"
#include "core/base/Rfc3339.h"
#include "core/base/Utf8Text.h"
#include "core/table/ColumnInfo.h"
#include "core/table/EntryObj.h"
#include "core/view/EntryKeys.h"

namespace {

ExportCell TextCell(const std::string& text) {
    ExportCell cell;
    cell.m_Kind = ExportCell::Text;
    cell.m_Text = text;
    return cell;
}

ExportCell IntegerCell(uint64_t value) {
    ExportCell cell;
    cell.m_Kind = ExportCell::Integer;
    cell.m_Integer = value;
    return cell;
}

ExportCell RateCell(double bytesPerSecond) {
    ExportCell cell;
    if (bytesPerSecond < 0) return cell;
    cell.m_Kind = ExportCell::Real;
    cell.m_Real = bytesPerSecond;
    return cell;
}

ExportCell TimeCell(int64_t time) {
    ExportCell cell;
    if (time == 0) return cell;
    cell.m_Kind = ExportCell::Time;
    cell.m_Time = time;
    return cell;
}

// None when the port is not known.
ExportCell PortCell(const MonNetAddress& address) {
    return address.m_Port == 0 ? ExportCell{} : IntegerCell(address.m_Port);
}

// "Destination Port" -> "destination_port": the name of a column that has
// no name of its own below.
std::string KeyOfTitle(const std::string& title) {
    std::string key;
    for (char c : title) {
        if (c == ' ') {
            key += '_';
        } else {
            key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
    }
    return key;
}

// The JSON names stay as they are when a column's title changes.
std::string ColumnKey(int column) {
    switch (column) {
        case Column::Source:
            return "source";
        case Column::Destination:
            return "destination";
        case Column::UserName:
            return "user";
        case Column::Service:
            return "service";
        case Column::StartTime:
            return "start_time";
        case Column::Duration:
            return "duration";
        case Column::InTraffic:
            return "bytes_in";
        case Column::OutTraffic:
            return "bytes_out";
        case Column::TotalTraffic:
            return "bytes_total";
        case Column::Authentification:
            return "auth";
        case Column::NextServer:
            return "next_server";
        case Column::Result:
            return "result";
        case Column::InRate:
            return "rate_in";
        case Column::OutRate:
            return "rate_out";
        default:
            return KeyOfTitle(ColumnTitle(column));
    }
}

// What the JSON adds to each connection beyond its columns.
struct ExtraField {
    const char* m_Key;
    ExportCell (*m_Cell)(const EntryObj& entry);
};
const ExtraField ExtraFields[] = {
    {"source_port", [](const EntryObj& e) { return PortCell(e.m_Source); }},
    {"destination_port", [](const EntryObj& e) { return PortCell(e.m_Dest); }},
    {"end_time", [](const EntryObj& e) { return TimeCell(e.m_bFinished ? e.m_EndTime : 0); }},
};

std::string HostCell(int32_t hostForm, const std::string& name, const MonNetAddress& address) {
    if (hostForm == 1 && !name.empty()) return name;
    return AddressText(address);
}

ExportCell ConnectionCell(const EntryObj& entry, int column, int32_t hostForm, int64_t now) {
    switch (column) {
        case Column::Source:
            return TextCell(HostCell(hostForm, entry.m_SourceName, entry.m_Source));
        case Column::Destination:
            return TextCell(HostCell(hostForm, entry.m_DestName, entry.m_Dest));
        case Column::UserName:
            return TextCell(entry.m_UserName);
        case Column::Service:
            return TextCell(entry.m_Service);
        case Column::StartTime:
            return TimeCell(entry.m_StartTime);
        case Column::Duration: {  // seconds; a finished connection's stop at its end
            const int64_t end = entry.m_bFinished ? entry.m_EndTime : now;
            return IntegerCell(
                end > entry.m_StartTime ? static_cast<uint64_t>(end - entry.m_StartTime) : 0);
        }
        case Column::InRate:
            return RateCell(entry.m_RateIn);
        case Column::OutRate:
            return RateCell(entry.m_RateOut);
        case Column::InTraffic:
            return IntegerCell(entry.m_TotalIn);
        case Column::OutTraffic:
            return IntegerCell(entry.m_TotalOut);
        case Column::TotalTraffic:
            return IntegerCell(entry.m_LastTotal);
        case Column::NextServer:
            return TextCell(HostCell(hostForm, entry.m_NextServerName, entry.m_NextServer));
        case Column::DestinationPort: {
            const uint16_t port = EntryObj::PortOf(entry.m_Dest);
            return port != 0 ? IntegerCell(port) : ExportCell();
        }
        default:
            return TextCell(entry.GetColumnText(column));
    }
}

void WriteJsonString(std::ostream& out, const std::string& text) {
    out << '"';
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out << '\\' << c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out << escaped;
        } else {
            out << c;
        }
    }
    out << '"';
}

std::string RealText(double value) {
    char text[48];
    char* at = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1).ptr;
    return std::string(text, at);
}

std::string CellText(const ExportCell& cell) {
    switch (cell.m_Kind) {
        case ExportCell::Text:
            return MonitorUtf8(cell.m_Text);
        case ExportCell::Integer:
            return std::to_string(cell.m_Integer);
        case ExportCell::Real:
            return RealText(cell.m_Real);
        case ExportCell::Time:
            return Rfc3339(cell.m_Time);
        case ExportCell::Empty:
            break;
    }
    return std::string();
}

}  // namespace

ExportSheet ExportSheet::FromConnections(const std::vector<const EntryObj*>& entries,
                                         const std::vector<int>& columns, int32_t hostForm,
                                         int64_t now) {
    ExportSheet sheet;
    for (int column : columns) {
        sheet.m_Titles.push_back(ColumnTitle(column));
        sheet.m_Keys.push_back(ColumnKey(column));
    }
    for (const ExtraField& extra : ExtraFields) {
        if (std::find(sheet.m_Keys.begin(), sheet.m_Keys.end(), extra.m_Key) == sheet.m_Keys.end())
            sheet.m_Keys.push_back(extra.m_Key);
    }
    sheet.AddConnections(entries, columns, hostForm, now);
    return sheet;
}

void ExportSheet::AddConnections(const std::vector<const EntryObj*>& entries,
                                 const std::vector<int>& columns, int32_t hostForm, int64_t now) {
    // The extra fields are the keys after the columns' own.
    std::vector<const ExtraField*> extras;
    for (size_t key = columns.size(); key < m_Keys.size(); ++key) {
        for (const ExtraField& extra : ExtraFields) {
            if (m_Keys[key] == extra.m_Key) extras.push_back(&extra);
        }
    }
    m_Rows.reserve(m_Rows.size() + entries.size());
    for (const EntryObj* entry : entries) {
        std::vector<ExportCell> row;
        row.reserve(m_Keys.size());
        for (int column : columns) row.push_back(ConnectionCell(*entry, column, hostForm, now));
        for (const ExtraField* extra : extras) row.push_back(extra->m_Cell(*entry));
        m_Rows.push_back(std::move(row));
    }
}

ExportSheet ExportSheet::FromGroups(const ConnectionGroups& groups) {
    ExportSheet sheet;
    sheet.m_Titles = {ConnectionGroups::Title(groups.By()),
                      "Active",
                      "Failed",
                      "In Traffic",
                      "Out Traffic",
                      "Total Traffic",
                      "In Rate",
                      "Out Rate"};
    sheet.m_Keys = {KeyOfTitle(ConnectionGroups::Title(groups.By())),
                    "active",
                    "failed",
                    "bytes_in",
                    "bytes_out",
                    "bytes_total",
                    "rate_in",
                    "rate_out"};
    for (const ConnectionGroup& group : groups.Groups()) {
        const ConnectionTotals& totals = group.m_Totals;
        sheet.m_Rows.push_back({TextCell(group.m_Name), IntegerCell(totals.m_Active),
                                IntegerCell(totals.m_Failed), IntegerCell(totals.m_BytesIn),
                                IntegerCell(totals.m_BytesOut),
                                IntegerCell(totals.m_BytesIn + totals.m_BytesOut),
                                RateCell(totals.m_RateIn), RateCell(totals.m_RateOut)});
    }
    return sheet;
}

bool ExportSheet::WriteCsv(std::ostream& out, const GoOn& goOn) const {
    std::vector<std::string> fields;
    for (const std::string& title : m_Titles) fields.push_back(MonitorUtf8(title));
    out << CsvLine(fields, CsvQuoting::Always);
    for (const auto& row : m_Rows) {
        fields.clear();
        for (size_t c = 0; c < row.size() && c < m_Titles.size(); ++c)
            fields.push_back(CellText(row[c]));
        out << CsvLine(fields, CsvQuoting::Always);
        if (goOn && !goOn(static_cast<size_t>(&row - m_Rows.data()) + 1)) return false;
    }
    return true;
}

bool ExportSheet::WriteJson(std::ostream& out, const GoOn& goOn) const {
    out << '[';
    for (size_t r = 0; r < m_Rows.size(); ++r) {
        out << (r == 0 ? "\n  {" : ",\n  {");
        const auto& row = m_Rows[r];
        for (size_t c = 0; c < row.size() && c < m_Keys.size(); ++c) {
            if (c > 0) out << ", ";
            WriteJsonString(out, m_Keys[c]);
            out << ": ";
            const ExportCell& cell = row[c];
            switch (cell.m_Kind) {
                case ExportCell::Empty:
                    out << "null";
                    break;
                case ExportCell::Integer:
                case ExportCell::Real:
                    out << CellText(cell);
                    break;
                default:
                    WriteJsonString(out, CellText(cell));
                    break;
            }
        }
        out << '}';
        if (goOn && !goOn(r + 1)) return false;
    }
    out << (m_Rows.empty() ? "]\n" : "\n]\n");
    return true;
}
