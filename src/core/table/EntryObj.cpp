#include "core/table/EntryObj.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "core/monitor/MonNetAddress.h"

namespace {

constexpr int32_t HostFormNames = 1;
constexpr int32_t UnitKilobytes = 1;
constexpr int32_t UnitMegabytes = 2;

// Texts of a record end with a zero inside their field; never read past the field.
template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return std::string_view(field, strnlen(field, N - 1));
}

template <size_t N>
void FillIn(std::string& stored, const char (&field)[N]) {
    std::string_view text = FieldText(field);
    if (!text.empty()) stored.assign(text);
}

// A second-version record: its wide fields are the ones to read. A first-
// version one is read from its own fields, whether or not the wide ones
// were filled (a record made by hand has only those).
bool IsWide(const MonitorRecord& record) {
    return record.m_Version == 2;
}

void FillIn(MonNetAddress& stored, const MonNetAddress& field) {
    if (Mon_HasAddress(field)) stored = field;
}

std::string TimeOfDay(int64_t seconds) {
    std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) return std::string();
    char text[16];
    size_t length = std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return std::string(text, length);
}

// Appends a number of at least `width` digits, zero-padded.
char* PutNumber(char* at, char* end, long long value, int width = 1) {
    char digits[24];
    char* last = std::to_chars(digits, digits + sizeof digits, value).ptr;
    for (int pad = width - static_cast<int>(last - digits); pad > 0 && at < end; --pad) {
        *at++ = '0';
    }
    return std::copy(digits, last, at);
}

// Days:hours:minutes:seconds ("%lld:%02d:%02d:%02d"), or "0" for no span.
void FormatDuration(int64_t span, std::string& column) {
    if (span <= 0) {
        column.assign("0");
        return;
    }
    char text[40];
    char* end = text + sizeof text;
    char* at = PutNumber(text, end, span / 86400);
    *at++ = ':';
    at = PutNumber(at, end, span % 86400 / 3600, 2);
    *at++ = ':';
    at = PutNumber(at, end, span % 3600 / 60, 2);
    *at++ = ':';
    at = PutNumber(at, end, span % 60, 2);
    column.assign(text, at);
}

// Bytes as "%llu", or kilobytes and megabytes as "%.2fK" and "%.2fM"
// (std::to_chars rounds exactly as printf does).
void FormatTraffic(uint64_t bytes, int32_t dataUnit, std::string& column) {
    char text[48];
    char* end = text + sizeof text - 1;
    char* at;
    if (dataUnit == UnitMegabytes) {
        at = std::to_chars(text, end, bytes / 1048576.0, std::chars_format::fixed, 2).ptr;
        *at++ = 'M';
    } else if (dataUnit == UnitKilobytes) {
        at = std::to_chars(text, end, bytes / 1024.0, std::chars_format::fixed, 2).ptr;
        *at++ = 'K';
    } else {
        at = std::to_chars(text, end, bytes).ptr;
    }
    column.assign(text, at);
}

// A host by name when names are wanted and one is known, else by its
// address ("10.0.0.1", "2001:db8::1"); a single blank when neither is known.
void FormatHost(int32_t hostForm, const std::string& name, const MonNetAddress& address,
                std::string& column) {
    if (hostForm == HostFormNames && !name.empty()) {
        column = name;
        return;
    }
    char text[MonAddressTextSize];
    char* end = Mon_PutAddress(address, text);
    if (end == text) {
        column.assign(" ");
        return;
    }
    column.assign(text, end);
}

// How far a running total of the wire has moved since it was last seen. The
// totals are 32-bit, so a total that has passed 2^32 reads smaller than before
// and its growth is taken modulo 2^32; a total that went down by less than half
// that range is a counter that started again, and all of it is new.
bool StartedAgain(uint32_t before, uint32_t now) {
    return now < before && before - now < 0x80000000u;
}

uint64_t Growth(uint32_t before, uint32_t now) {
    if (StartedAgain(before, now)) return now;
    return static_cast<uint32_t>(now - before);
}

// Follows one direction's wire total into its never-wrapping count and adds
// its growth to the record's delta.
void Advance(uint32_t now, uint32_t& wire, uint64_t& total, uint64_t& delta) {
    const uint64_t growth = Growth(wire, now);
    total = StartedAgain(wire, now) ? now : total + growth;
    delta += growth;
    wire = now;
}

// The second version's totals are 64 bits and never wrap: a total that went
// down is a counter that started again, which brings no growth we can tell.
void Advance64(uint64_t now, uint32_t& wire, uint64_t& total, uint64_t& delta) {
    delta += now >= total ? now - total : 0;
    total = now;
    wire = static_cast<uint32_t>(now);
}

}  // namespace

void EntryObj::MakeKey(uint32_t idHigh, uint32_t idLow, std::string& key) {
    // Two signed decimals joined by a colon, so that no two id pairs share a key.
    // 11 characters hold any signed 32-bit decimal.
    char text[24];
    char* at = std::to_chars(text, text + 11, static_cast<int32_t>(idHigh)).ptr;
    *at++ = ':';
    at = std::to_chars(at, at + 11, static_cast<int32_t>(idLow)).ptr;
    key.assign(text, at);
}

std::string EntryObj::AuthMethodName(uint8_t method) {
    switch (method) {
        case 0x00:
            return "No authentication";
        case 0x01:
            return "GSSAPI";
        case 0x02:
            return "Username/Password";
        case 0xFF:
            return "No acceptable method";
        default:
            break;
    }
    char text[32];
    int length = std::snprintf(text, sizeof text, "%s method 0x%02X",
                               method < 0x80 ? "IANA" : "Private", method);
    return std::string(text, static_cast<size_t>(length));
}

// The 256 names made once: the column hands out references to them.
const std::string& EntryObj::AuthMethodText(uint8_t method) {
    static const std::array<std::string, 256> names = [] {
        std::array<std::string, 256> all;
        for (size_t i = 0; i < all.size(); ++i) all[i] = AuthMethodName(static_cast<uint8_t>(i));
        return all;
    }();
    return names[method];
}

int32_t EntryObj::Apply(const MonitorRecord& record, uint64_t& delta) {
    delta = 0;
    if (record.m_IdHigh == 0 && record.m_IdLow == 0) return 0;

    // The key text only when the ids change: updates repeat them on every record.
    if (m_Key.empty() || record.m_IdHigh != m_IdHigh || record.m_IdLow != m_IdLow) {
        m_IdHigh = record.m_IdHigh;
        m_IdLow = record.m_IdLow;
        MakeKey(m_IdHigh, m_IdLow, m_Key);
    }
    m_Kind = static_cast<int32_t>(record.m_Kind);

    if (MonIsCloseWord(record.m_Kind)) {
        if (m_Status != 0) return 0;  // the connection has already ended
        m_Status = m_FailureCode != 0 ? 1 : 2;
        m_bFinished = 1;
        // Our monitors send the end time in the close value; others send 0,
        // and then the end is when the close arrived.
        const uint64_t end = IsWide(record) ? record.m_EndTime64 : record.m_CloseValue;
        m_EndTime = end != 0 ? static_cast<int64_t>(end) : static_cast<int64_t>(std::time(nullptr));
        Stale(SlotDuration);
        return 1;
    }

    m_Status = 0;

    std::string_view service = FieldText(record.m_ServiceName);
    if (!service.empty()) {
        m_Service.assign(service);
    } else if (m_Service.empty()) {
        m_Service.assign("Others");
    }

    const bool wide = IsWide(record);
    FillIn(m_Source, wide ? record.m_Source : Mon_AddressOfSockAddr(record.m_SourceAddr));
    FillIn(m_SourceName, record.m_SourceName);
    FillIn(m_Dest, wide ? record.m_Dest : Mon_AddressOfSockAddr(record.m_DestAddr));
    FillIn(m_DestName, record.m_DestName);
    FillIn(m_NextServer,
           wide ? record.m_NextServer : Mon_AddressOfSockAddr(record.m_NextServerAddr));
    FillIn(m_NextServerName, record.m_NextServerName);

    std::string_view userName = FieldText(record.m_UserName);
    if (!userName.empty()) m_UserName.assign(userName);

    const uint64_t start =
        wide ? record.m_StartTime64 : record.m_StartTime;  // unsigned on the wire
    if (start != 0) m_StartTime = static_cast<int64_t>(start);
    // Every made text may have changed; they are made again when asked for.
    m_Fresh = 0;

    // A zero count is a record without counts: the old one stands.
    if (wide) {
        if (record.m_TotalIn64 != 0) Advance64(record.m_TotalIn64, m_BytesIn, m_TotalIn, delta);
        if (record.m_TotalOut64 != 0) Advance64(record.m_TotalOut64, m_BytesOut, m_TotalOut, delta);
    } else {
        if (record.m_TrafficIn != 0) Advance(record.m_TrafficIn, m_BytesIn, m_TotalIn, delta);
        if (record.m_TrafficOut != 0) Advance(record.m_TrafficOut, m_BytesOut, m_TotalOut, delta);
    }
    m_LastTotal = m_TotalIn + m_TotalOut;

    if (record.m_AuthMethod != 0) m_AuthMethod = record.m_AuthMethod;
    if (MonIsOpenWord(record.m_Kind)) m_bOpened = 1;

    if (record.m_ResultCode != 0) m_FailureCode = static_cast<int32_t>(record.m_ResultCode);
    FillIn(m_ResultText, record.m_ResultText);
    return 1;
}

void EntryObj::SetDisplay(int32_t hostForm, int32_t dataUnit) {
    SetDisplay(hostForm, dataUnit, static_cast<int64_t>(std::time(nullptr)));
}

void EntryObj::SetDisplay(int32_t hostForm, int32_t dataUnit, int64_t now) {
    if (!m_bDisplaySet || hostForm != m_HostForm) {
        Stale(SlotSource);
        Stale(SlotDestination);
        Stale(SlotNextServer);
    }
    if (!m_bDisplaySet || dataUnit != m_DataUnit) {
        Stale(SlotIn);
        Stale(SlotOut);
        Stale(SlotTotal);
        Stale(SlotInRate);
        Stale(SlotOutRate);
    }
    if (!m_bDisplaySet || now != m_Now) Stale(SlotDuration);
    m_HostForm = hostForm;
    m_DataUnit = dataUnit;
    m_Now = now;
    m_bDisplaySet = true;
}

int64_t EntryObj::Span(int64_t now) const {
    const int64_t end = m_bFinished ? m_EndTime : now;
    return std::max<int64_t>(end - m_StartTime, 0);
}

void EntryObj::Format(Slot slot) const {
    if (!m_pMade) m_pMade = std::make_unique<std::array<std::string, SlotCount>>();
    std::string& text = (*m_pMade)[slot];
    switch (slot) {
        case SlotSource:
            FormatHost(m_HostForm, m_SourceName, m_Source, text);
            break;
        case SlotDestination:
            FormatHost(m_HostForm, m_DestName, m_Dest, text);
            break;
        case SlotNextServer:
            FormatHost(m_HostForm, m_NextServerName, m_NextServer, text);
            break;
        case SlotStartTime:
            // Shown from the first start time on; the display options play no part.
            if (m_StartTime != 0) text = TimeOfDay(m_StartTime);
            break;
        case SlotDuration:
            FormatDuration(Span(m_Now), text);
            break;
        case SlotIn:
            FormatTraffic(m_TotalIn, m_DataUnit, text);
            break;
        case SlotOut:
            FormatTraffic(m_TotalOut, m_DataUnit, text);
            break;
        case SlotTotal:
            FormatTraffic(m_LastTotal, m_DataUnit, text);
            break;
        case SlotInRate:
            FormatRate(m_RateIn, m_DataUnit, text);
            break;
        case SlotOutRate:
            FormatRate(m_RateOut, m_DataUnit, text);
            break;
        case SlotDestPort:  // empty while the monitor has not sent it
            text = PortOf(m_Dest) != 0 ? std::to_string(PortOf(m_Dest)) : std::string();
            break;
        case SlotCount:
            break;
    }
}

const std::string& EntryObj::MadeText(Slot slot) const {
    static const std::string none;
    // Until SetDisplay has given a form, a unit and a clock, only the start
    // time can be made.
    if (!m_bDisplaySet && slot != SlotStartTime) return none;
    if ((m_Fresh & (1u << slot)) == 0) {
        Format(slot);
        m_Fresh |= static_cast<uint16_t>(1u << slot);
    }
    return (*m_pMade)[slot];
}

const std::string& EntryObj::GetColumnText(int column) const {
    static const std::string none;
    switch (column) {
        case Column::Source:
            return MadeText(SlotSource);
        case Column::Destination:
            return MadeText(SlotDestination);
        case Column::UserName:
            return m_UserName;
        case Column::Service:
            return m_Service;
        case Column::StartTime:
            return MadeText(SlotStartTime);
        case Column::Duration:
            return MadeText(SlotDuration);
        case Column::InTraffic:
            return MadeText(SlotIn);
        case Column::OutTraffic:
            return MadeText(SlotOut);
        case Column::TotalTraffic:
            return MadeText(SlotTotal);
        case Column::Authentification:
            return m_bOpened ? AuthMethodText(m_AuthMethod) : none;
        case Column::NextServer:
            return MadeText(SlotNextServer);
        case Column::Result:
            // Why a connection failed (or is failing: the close is still to
            // come); the result text of one that succeeded says nothing.
            return m_FailureCode != 0 ? m_ResultText : none;
        case Column::InRate:
            return MadeText(SlotInRate);
        case Column::OutRate:
            return MadeText(SlotOutRate);
        case Column::DestinationPort:
            return MadeText(SlotDestPort);
        default:
            return none;
    }
}

uint64_t EntryObj::ColumnNumber(int column) const {
    switch (column) {
        case Column::StartTime:
            return static_cast<uint64_t>(std::max<int64_t>(m_StartTime, 0));
        case Column::Duration:
            return static_cast<uint64_t>(Span(m_Now));
        case Column::InTraffic:
            return m_TotalIn;
        case Column::OutTraffic:
            return m_TotalOut;
        case Column::TotalTraffic:
            return m_LastTotal;
        case Column::InRate:  // in thousandths, so that slow rates still sort; none as 0
            return HasRate() ? static_cast<uint64_t>(m_RateIn * 1000.0) : 0;
        case Column::OutRate:
            return HasRate() ? static_cast<uint64_t>(m_RateOut * 1000.0) : 0;
        case Column::DestinationPort:
            return PortOf(m_Dest);
        default:
            return 0;
    }
}

void EntryObj::MeasureRate(int64_t now) {
    Stale(SlotInRate);
    Stale(SlotOutRate);
    if (m_bFinished) {
        m_RateIn = m_RateOut = -1;
        return;
    }
    // A refresh right after another (an activation change, Show Active) would
    // measure a few bursts of the proxy's copying over a fraction of a second;
    // the rate stands and the growth counts towards the next poll.
    constexpr int64_t ShortestSpanMs = 1000;
    if (m_RateSince >= 0 && now - m_RateSince < ShortestSpanMs) return;
    if (m_RateSince >= 0) {
        const double seconds = static_cast<double>(now - m_RateSince) / 1000.0;
        // A counter that started again grew by less than nothing; it moved nothing we can tell.
        m_RateIn =
            m_TotalIn >= m_RateBaseIn ? static_cast<double>(m_TotalIn - m_RateBaseIn) / seconds : 0;
        m_RateOut = m_TotalOut >= m_RateBaseOut
                        ? static_cast<double>(m_TotalOut - m_RateBaseOut) / seconds
                        : 0;
    } else if (m_RateSince < 0) {
        m_RateIn = m_RateOut = -1;
    }
    m_RateSince = now;
    m_RateBaseIn = m_TotalIn;
    m_RateBaseOut = m_TotalOut;
}

void EntryObj::FormatBytes(uint64_t bytes, int32_t dataUnit, std::string& text) {
    FormatTraffic(bytes, dataUnit, text);
}

void EntryObj::FormatRate(double bytesPerSecond, int32_t dataUnit, std::string& text) {
    if (bytesPerSecond < 0) {
        text.clear();
        return;
    }
    char digits[48];
    char* end = digits + sizeof digits;
    const char* unit = " B/s";
    char* at;
    if (dataUnit == UnitMegabytes) {
        at =
            std::to_chars(digits, end, bytesPerSecond / 1048576.0, std::chars_format::fixed, 1).ptr;
        unit = " MB/s";
    } else if (dataUnit == UnitKilobytes) {
        at = std::to_chars(digits, end, bytesPerSecond / 1024.0, std::chars_format::fixed, 1).ptr;
        unit = " KB/s";
    } else {
        at = std::to_chars(digits, end, bytesPerSecond, std::chars_format::fixed, 0).ptr;
    }
    text.assign(digits, at);
    text += unit;
}

void EntryObj::FormatIpv4(const uint8_t* quad, std::string& text) {
    char digits[16];  // "255.255.255.255"
    char* const end = digits + sizeof digits;
    char* at = digits;
    for (int i = 0; i < 4; ++i) {
        // A dotted quad always fits; the test only tells the optimiser so.
        if (i > 0 && at != end) *at++ = '.';
        at = std::to_chars(at, end, quad[i]).ptr;
    }
    text.assign(digits, at);
}
