#include "MonitorCheck.h"

#include <thread>

#include "core/base/Utf8Text.h"
#include "core/monitor/MonEncode.h"
#include "core/monitor/MonHostForm.h"
#include "core/monitor/MonRecordKind.h"
#include "core/monitor/MonStream.h"
#include "core/monitor/MonTcp.h"

namespace {

constexpr size_t BatchLimit = 64u << 20;

// The kinds of the first version, as the decoder lays them out, and the
// names of their references for the findings.
struct Layout {
    const MonRecordKind* m_Kind;
    const char* m_Fields[5];
};

const Layout* LayoutOf(uint8_t kind) {
    static const Layout Layouts[] = {
        {&MonOpenKind, {"user name", "client address", "client host name"}},
        {&MonUpdateKind,
         {"service name", "next server address", "next server name", "destination address",
          "destination name"}},
        {&MonResultKind, {"result text"}},
        {&MonCloseKind, {}},
    };
    for (const Layout& layout : Layouts) {
        if (layout.m_Kind->m_Byte == kind) return &layout;
    }
    return nullptr;
}

uint32_t U32(const uint8_t* at) {
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}

uint16_t U16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

// Neither encoding has a control character in a name or a text: C0 bytes,
// DEL, and (read as Latin-1) the C1 bytes 0x80-0x9F.
bool IsShowable(std::string_view text) {
    const bool utf8 = IsUtf8(text);
    for (const unsigned char byte : text) {
        if (byte < 0x20 || byte == 0x7F || (!utf8 && byte >= 0x80 && byte <= 0x9F)) return false;
    }
    return true;
}

}  // namespace

void MonitorCheck::Report(const std::string& rule) {
    m_Findings.push_back(m_Where + ": " + rule);
}

void MonitorCheck::CheckBody(int poll, size_t index, const uint8_t* body, uint16_t length) {
    ++m_Records;
    const size_t before = m_Findings.size();
    m_Where = "poll " + std::to_string(poll) + ", record " + std::to_string(index);
    if (length < MonHeaderSize) {
        Report("a body of " + std::to_string(length) + " bytes is shorter than the 9-byte header");
        return;
    }
    const Layout* layout = LayoutOf(body[0]);
    const Ids ids{U32(body + 1), U32(body + 5)};
    const std::string idText = std::to_string(ids.first) + ":" + std::to_string(ids.second);
    if (!layout) {
        Report("kind " + std::to_string(body[0]) + " is not a record of the first version");
        return;
    }
    const uint16_t fixed = layout->m_Kind->m_FixedSize;
    m_Where += std::string(" (") + layout->m_Kind->m_Name + " " + idText + ")";
    if (length < fixed) {
        Report("a body of " + std::to_string(length) + " bytes is shorter than the " +
               std::to_string(fixed) + "-byte fixed part");
        return;
    }
    if (ids.first == 0 && ids.second == 0) Report("ids 0:0 name no connection");
    CheckRefs(body, length, fixed);
    CheckOrder(body[0], ids, body);
    if (m_Findings.size() == before) {
        MonitorRecord record{};
        if (Mon_Decode(length, body, &record) != 0) Report("VGL's decoder refuses it");
    }
}

void MonitorCheck::CheckRefs(const uint8_t* body, uint16_t length, uint16_t fixed) {
    const size_t area = length - fixed;
    const Layout& layout = *LayoutOf(body[0]);
    const MonRecordKind& kind = *layout.m_Kind;
    for (size_t i = 0; i < kind.m_RefCount; ++i) {
        const uint8_t* ref = body + kind.RefOffset(i);
        const uint16_t size = U16(ref);
        const uint16_t offset = U16(ref + 2);
        const std::string field = std::string(layout.m_Fields[i]) + " ";
        if (size == 0) {
            if (offset != 0) Report(field + "has length 0 but offset " + std::to_string(offset));
            continue;
        }
        if (size_t(offset) + size > area) {
            Report(field + "bytes " + std::to_string(offset) + "-" + std::to_string(offset + size) +
                   " lie outside the variable area of " + std::to_string(area) + " bytes");
            continue;
        }
        const uint8_t* value = body + fixed + offset;
        if (kind.IsAddressRef(i)) {
            if (size != MonAddressSize) {
                Report(field + "is " + std::to_string(size) + " bytes, not 16");
            } else if (value[0] != 2 || value[1] != 0) {
                Report(field + "has family " + std::to_string(value[0] | value[1] << 8) +
                       ", not AF_INET (02 00)");
            }
            continue;
        }
        const std::string_view text(reinterpret_cast<const char*>(value), size);
        const size_t kept = &kind == &MonUpdateKind && i == 0 ? MonServiceLimit : MonTextLimit;
        if (!IsShowable(text)) Report(field + "holds control characters in either encoding");
        if (size > kept) {
            Report(field + "is " + std::to_string(size) + " bytes; VGL keeps " +
                   std::to_string(kept));
        }
    }
}

void MonitorCheck::CheckOrder(uint8_t kind, const Ids& ids, const uint8_t* body) {
    const auto found = m_Connections.find(ids);
    if (kind == MonOpenKind.m_Byte) {
        if (found != m_Connections.end() && !found->second.m_bClosed) {
            Report("opened again while open");
        } else if (found != m_Connections.end()) {
            Report("its ids were used again after its close");
        }
        m_Connections[ids] = {false, U32(body + 10), 0, 0};
        return;
    }
    if (found == m_Connections.end()) {
        Report("no open came before it on this link");
        return;
    }
    Connection& connection = found->second;
    if (connection.m_bClosed) {
        Report("it comes after the connection's close");
        return;
    }
    if (kind == MonUpdateKind.m_Byte) CheckTotals(connection, body);
    if (kind == MonCloseKind.m_Byte) {
        const uint32_t end = U32(body + 9);
        if (end != 0 && connection.m_Start != 0 && end < connection.m_Start) {
            Report("the end time " + std::to_string(end) + " is before the start time " +
                   std::to_string(connection.m_Start));
        }
        connection.m_bClosed = true;
    }
}

// Totals run from the open; one that falls is a fault, unless it wrapped
// past 2^32 (VGL counts growth modulo 2^32).
void MonitorCheck::CheckTotals(Connection& connection, const uint8_t* body) {
    constexpr uint32_t NearWrap = 0xC0000000u;
    const uint32_t totals[2] = {U32(body + 13), U32(body + 17)};
    uint32_t* last[2] = {&connection.m_In, &connection.m_Out};
    for (int i = 0; i < 2; ++i) {
        if (totals[i] == 0) continue;  // no count in this record
        if (totals[i] < *last[i] && *last[i] < NearWrap) {
            Report(std::string("total ") + (i == 0 ? "in" : "out") + " went down from " +
                   std::to_string(*last[i]) + " to " + std::to_string(totals[i]));
        }
        *last[i] = totals[i];
    }
}

int MonitorCheck::Run(const std::string& host, int polls, std::chrono::milliseconds period,
                      std::ostream& out) {
    MonHostForm form;
    if (!Mon_ParseHostForm(host, form) || form.m_Route != MonRoute::Plain) {
        out << "vgl-monitor: " << host << " is not HOST[:PORT]\n";
        return 2;
    }
    int32_t code = 0;
    char text[128] = {};
    const MonSocket socket = Mon_TcpConnect(form.m_Host.c_str(), form.m_Port, &code, text);
    if (socket < 0) {
        out << "vgl-monitor: cannot connect to " << host << ": " << text << "\n";
        return 2;
    }
    static constexpr uint8_t Request[1] = {0};
    std::vector<uint8_t> body(65535);
    bool answered = true;
    for (int poll = 1; poll <= polls && answered; ++poll) {
        if (poll > 1) std::this_thread::sleep_for(period);
        if (Mon_TcpSend(socket, 1, Request, &code, text) < 0) {
            answered = false;
            break;
        }
        size_t index = 0, bytes = 0;
        for (;;) {
            const int32_t length =
                Mon_TcpRecv(socket, static_cast<uint16_t>(body.size()), body.data(), &code, text);
            if (length < 0) {
                answered = false;
                break;
            }
            if (length == 0) break;  // the empty message ends the batch
            bytes += 2 + static_cast<size_t>(length);
            CheckBody(poll, ++index, body.data(), static_cast<uint16_t>(length));
        }
        if (bytes > BatchLimit) {
            m_Where = "poll " + std::to_string(poll);
            Report("a batch of " + std::to_string(bytes) + " bytes is past VGL's 64 MiB");
        }
    }
    Mon_TcpClose(socket, &code, text);
    for (const std::string& finding : m_Findings) out << finding << "\n";
    if (!answered) {
        out << "vgl-monitor: " << host << " did not answer a poll: " << text << "\n";
        return 2;
    }
    out << polls << " polls, " << m_Records << " records, " << m_Findings.size() << " problem"
        << (m_Findings.size() == 1 ? "" : "s") << "\n";
    return m_Findings.empty() ? 0 : 1;
}
