#include "core/view/ExportSheet.h"

#include <charconv>
#include <cstdio>
#include <ctime>

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

std::string HostCell(int32_t hostForm, const std::string& name, const uint8_t (&address)[16]) {
    if (hostForm == 1 && !name.empty()) return name;
    return AddressText(address);
}

ExportCell ConnectionCell(const EntryObj& entry, int column, int32_t hostForm, int64_t now) {
    switch (column) {
        case Column::Source:
            return TextCell(HostCell(hostForm, entry.m_SourceName, entry.m_SourceAddr));
        case Column::Destination:
            return TextCell(HostCell(hostForm, entry.m_DestName, entry.m_DestAddr));
        case Column::UserName:
            return TextCell(entry.m_UserName);
        case Column::Service:
            return TextCell(entry.m_Service);
        case Column::StartTime: {
            ExportCell cell;
            if (entry.m_StartTime == 0) return cell;
            cell.m_Kind = ExportCell::Time;
            cell.m_Time = entry.m_StartTime;
            return cell;
        }
        case Column::Duration: {  // seconds; a finished connection's stop at its end
            const int64_t end = entry.m_bFinished ? entry.m_EndTime : now;
            return IntegerCell(end > entry.m_StartTime ? static_cast<uint64_t>(end - entry.m_StartTime) : 0);
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
            return TextCell(HostCell(hostForm, entry.m_NextServerName, entry.m_NextServerAddr));
        default:
            return TextCell(entry.GetColumnText(column));
    }
}

bool ValidUtf8(const std::string& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        size_t more = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + more >= bytes.size()) return false;  // cut short
        for (size_t k = 1; k <= more; ++k) {
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            code = code << 6 | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((more == 2 && code < 0x800) || (more == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += more + 1;
    }
    return true;
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
            return ExportSheet::Utf8(cell.m_Text);
        case ExportCell::Integer:
            return std::to_string(cell.m_Integer);
        case ExportCell::Real:
            return RealText(cell.m_Real);
        case ExportCell::Time:
            return ExportSheet::Rfc3339(cell.m_Time);
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
    for (int column : columns) sheet.m_Titles.push_back(ColumnTitle(column));
    sheet.m_Rows.reserve(entries.size());
    for (const EntryObj* entry : entries) {
        std::vector<ExportCell> row;
        row.reserve(columns.size());
        for (int column : columns) row.push_back(ConnectionCell(*entry, column, hostForm, now));
        sheet.m_Rows.push_back(std::move(row));
    }
    return sheet;
}

ExportSheet ExportSheet::FromGroups(const ConnectionGroups& groups) {
    ExportSheet sheet;
    sheet.m_Titles = {ConnectionGroups::Title(groups.By()), "Active", "Failed", "In Traffic",
                      "Out Traffic", "Total Traffic", "In Rate", "Out Rate"};
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

void ExportSheet::WriteCsv(std::ostream& out) const {
    auto writeLine = [&out](const std::vector<std::string>& fields) {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) out << ',';
            out << '"';
            for (char c : fields[i]) {
                if (c == '"') out << '"';
                out << c;
            }
            out << '"';
        }
        out << "\r\n";
    };
    std::vector<std::string> fields;
    for (const std::string& title : m_Titles) fields.push_back(Utf8(title));
    writeLine(fields);
    for (const auto& row : m_Rows) {
        fields.clear();
        for (const ExportCell& cell : row) fields.push_back(CellText(cell));
        writeLine(fields);
    }
}

void ExportSheet::WriteJson(std::ostream& out) const {
    out << '[';
    for (size_t r = 0; r < m_Rows.size(); ++r) {
        out << (r == 0 ? "\n  {" : ",\n  {");
        const auto& row = m_Rows[r];
        for (size_t c = 0; c < row.size() && c < m_Titles.size(); ++c) {
            if (c > 0) out << ", ";
            WriteJsonString(out, Utf8(m_Titles[c]));
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
    }
    out << (m_Rows.empty() ? "]\n" : "\n]\n");
}

std::string ExportSheet::Utf8(const std::string& bytes) {
    if (ValidUtf8(bytes)) return bytes;
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text.push_back(c);
        } else {
            text.push_back(static_cast<char>(0xC0 | byte >> 6));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

std::string ExportSheet::Rfc3339(int64_t seconds) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (gmtime_r(&when, &utc) == nullptr) return std::string();
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}
