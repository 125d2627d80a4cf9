#include "core/monitor/MonStream.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "core/base/Utf8Text.h"
#include "core/monitor/MonBatch.h"
#include "core/monitor/MonHostForm.h"
#include "core/monitor/MonHostName.h"
#include "core/monitor/MonKnownMonitors.h"
#include "core/monitor/MonNetAddress.h"
#include "core/monitor/MonRecordKind.h"
#include "core/monitor/MonSshTunnel.h"
#include "core/monitor/MonTcpLink.h"
#include "core/monitor/MonTls.h"

namespace {

constexpr char IllegalMessageText[] = "illegal message from monitor";
constexpr uint8_t RequestBody[1] = {0x00};
constexpr int32_t WsaHostNotFound = 11001;  // what a malformed port or bracket gets

uint16_t ReadU16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t ReadU32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint64_t ReadU64(const uint8_t* p) {
    return uint64_t{ReadU32(p)} << 32 | ReadU32(p + 4);
}

// Where to cut a text of `length` bytes to at most `limit` bytes. A UTF-8
// text is cut before the character that does not fit, so that what is kept
// still reads as UTF-8 rather than falling back to single-byte characters.
size_t CutLength(const uint8_t* text, size_t length, size_t limit) {
    if (length <= limit) return length;
    size_t count = limit;
    if (IsUtf8(std::string_view(reinterpret_cast<const char*>(text), length))) {
        while (count > 0 && (text[count] & 0xC0) == 0x80) --count;
    }
    return count;
}

// A StringRef of the body and the record field it fills.
struct FieldRef {
    enum Form : uint8_t {
        Text,
        SockAddr,    // a first-version address: 16 raw bytes
        NetAddress,  // a second-version address: family byte, port, address
    };
    uint16_t m_RefOffset;  // where the StringRef sits in the body
    void* m_Field;
    size_t m_FieldSize;
    Form m_Form;
};

// The length a second-version address of this family byte has; 0 for a
// byte that names no family.
size_t NetAddressSize(uint8_t family) {
    return family == 0x04 ? MonAddress4Size : family == 0x06 ? MonAddress6Size : 0;
}

// The variable area of one message: the part of the body after the kind's
// fixed part, which every StringRef offset counts from.
class VariableArea {
public:
    VariableArea(uint16_t length, const uint8_t* body, uint16_t start)
        : m_Body(body), m_Start(start), m_Size(static_cast<size_t>(length - start)) {}

    // A reference fits when its bytes lie inside the body and an address has
    // its form's length (and, in the second version, a family byte that goes
    // with that length). A length of 0 (not sent) always fits.
    bool Fits(const FieldRef& ref) const {
        const uint16_t length = ReadU16(m_Body + ref.m_RefOffset);
        const uint16_t offset = ReadU16(m_Body + ref.m_RefOffset + 2);
        if (length == 0) {
            return true;
        }
        if (size_t{offset} + length > m_Size) {
            return false;
        }
        switch (ref.m_Form) {
            case FieldRef::SockAddr:
                return length == MonAddressSize;
            case FieldRef::NetAddress:
                return length == NetAddressSize(m_Body[m_Start + offset]);
            case FieldRef::Text:
                break;
        }
        return true;
    }

    // Texts longer than their field are cut so that a zero still ends them.
    void Copy(const FieldRef& ref) const {
        const uint16_t length = ReadU16(m_Body + ref.m_RefOffset);
        const uint16_t offset = ReadU16(m_Body + ref.m_RefOffset + 2);
        if (length == 0) {
            return;
        }
        const uint8_t* from = m_Body + m_Start + offset;
        if (ref.m_Form == FieldRef::SockAddr) {
            std::memcpy(ref.m_Field, from, MonAddressSize);
            return;
        }
        if (ref.m_Form == FieldRef::NetAddress) {
            CopyNetAddress(from, length, *static_cast<MonNetAddress*>(ref.m_Field));
            return;
        }
        const size_t count = CutLength(from, length, ref.m_FieldSize - 1);
        std::memcpy(ref.m_Field, from, count);
        static_cast<char*>(ref.m_Field)[count] = '\0';
    }

    template <size_t N>
    bool Resolve(const FieldRef (&refs)[N]) const {
        for (const FieldRef& ref : refs) {
            if (!Fits(ref)) {
                return false;
            }
        }
        for (const FieldRef& ref : refs) {
            Copy(ref);
        }
        return true;
    }

private:
    static void CopyNetAddress(const uint8_t* from, size_t length, MonNetAddress& address) {
        address = MonNetAddress{};
        address.m_Family = length == MonAddress4Size ? 4 : 6;
        address.m_Port = ReadU16(from + 1);
        std::memcpy(address.m_Bytes, from + 3, length - 3);
    }

    const uint8_t* m_Body;
    uint16_t m_Start;
    size_t m_Size;
};

// The i-th reference of the kind and the record field it fills.
template <class Field, size_t N>
FieldRef Ref(const MonRecordKind& kind, size_t i, Field (&field)[N]) {
    return {kind.RefOffset(i), field, N,
            kind.IsAddressRef(i) ? FieldRef::SockAddr : FieldRef::Text};
}
FieldRef Ref(const MonRecordKind& kind, size_t i, MonNetAddress& field) {
    return {kind.RefOffset(i), &field, sizeof field, FieldRef::NetAddress};
}

// Takes a body of the kind when it holds the kind's fixed part and its
// references all fit: their texts and addresses are copied into the fields
// and the record gets the kind's word and version.
template <const MonRecordKind& Kind, size_t N>
bool Take(uint16_t length, const uint8_t* body, const FieldRef (&refs)[N], MonitorRecord* record) {
    static_assert(N == Kind.m_RefCount, "a field for each of the kind's references");
    if (length < Kind.m_FixedSize || !VariableArea(length, body, Kind.m_FixedSize).Resolve(refs)) {
        return false;
    }
    record->m_Kind = Kind.m_Word;
    record->m_Version = Kind.m_Version;
    return true;
}

// A first-version record carries its addresses as socket addresses and its
// counts in 32 bits; the wider fields get the same, so that readers of the
// record need to look at one set only.
void Widen(MonitorRecord* record) {
    record->m_StartTime64 = record->m_StartTime;
    record->m_EndTime64 = record->m_CloseValue;
    record->m_TotalIn64 = record->m_TrafficIn;
    record->m_TotalOut64 = record->m_TrafficOut;
    record->m_Source = Mon_AddressOfSockAddr(record->m_SourceAddr);
    record->m_NextServer = Mon_AddressOfSockAddr(record->m_NextServerAddr);
    record->m_Dest = Mon_AddressOfSockAddr(record->m_DestAddr);
}

int32_t DecodeOpen(uint16_t length, const uint8_t* body, MonitorRecord* record) {
    constexpr const MonRecordKind& kind = MonOpenKind;
    const FieldRef refs[] = {Ref(kind, 0, record->m_UserName), Ref(kind, 1, record->m_SourceAddr),
                             Ref(kind, 2, record->m_SourceName)};
    if (!Take<kind>(length, body, refs, record)) {
        return -1;
    }
    record->m_AuthMethod = body[9];
    record->m_StartTime = ReadU32(body + 10);
    record->m_Reserved = ReadU32(body + 14);
    Widen(record);
    return 0;
}

int32_t DecodeUpdate(uint16_t length, const uint8_t* body, MonitorRecord* record) {
    constexpr const MonRecordKind& kind = MonUpdateKind;
    const FieldRef refs[] = {Ref(kind, 0, record->m_ServiceName),
                             Ref(kind, 1, record->m_NextServerAddr),
                             Ref(kind, 2, record->m_NextServerName),
                             Ref(kind, 3, record->m_DestAddr), Ref(kind, 4, record->m_DestName)};
    if (!Take<kind>(length, body, refs, record)) {
        return -1;
    }
    record->m_Reserved = ReadU32(body + 9);
    record->m_TrafficIn = ReadU32(body + 13);
    record->m_TrafficOut = ReadU32(body + 17);
    record->m_UpdateFlag = body[21];
    Widen(record);
    return 0;
}

int32_t DecodeResult(uint16_t length, const uint8_t* body, MonitorRecord* record) {
    constexpr const MonRecordKind& kind = MonResultKind;
    const FieldRef refs[] = {Ref(kind, 0, record->m_ResultText)};
    if (!Take<kind>(length, body, refs, record)) {
        return -1;
    }
    record->m_Reserved = ReadU32(body + 9);
    record->m_ResultCode = ReadU32(body + 13);
    Widen(record);
    return 0;
}

int32_t DecodeClose(uint16_t length, const uint8_t* body, MonitorRecord* record) {
    if (length < MonCloseKind.m_FixedSize) {
        return -1;
    }
    record->m_Kind = MonCloseKind.m_Word;
    record->m_Version = 1;
    record->m_CloseValue = ReadU32(body + 9);
    Widen(record);
    return 0;
}

// The second version's records fill the wide fields; the narrow ones they
// share with the first version (times and totals cut to 32 bits) only for
// readers that know no better, never for counting.
int32_t DecodeOpen2(uint16_t length, const uint8_t* body, MonitorRecord* record) {
    constexpr const MonRecordKind& kind = MonOpen2Kind;
    const FieldRef refs[] = {Ref(kind, 0, record->m_UserName), Ref(kind, 1, record->m_Source),
                             Ref(kind, 2, record->m_SourceName)};
    if (!Take<kind>(length, body, refs, record)) {
        return -1;
    }
    record->m_AuthMethod = body[9];
    record->m_StartTime64 = ReadU64(body + 10);
    record->m_StartTime = static_cast<uint32_t>(record->m_StartTime64);
    return 0;
}

int32_t DecodeUpdate2(uint16_t length, const uint8_t* body, MonitorRecord* record) {
    constexpr const MonRecordKind& kind = MonUpdate2Kind;
    const FieldRef refs[] = {Ref(kind, 0, record->m_ServiceName),
                             Ref(kind, 1, record->m_NextServer),
                             Ref(kind, 2, record->m_NextServerName), Ref(kind, 3, record->m_Dest),
                             Ref(kind, 4, record->m_DestName)};
    if (!Take<kind>(length, body, refs, record)) {
        return -1;
    }
    record->m_TotalIn64 = ReadU64(body + 9);
    record->m_TotalOut64 = ReadU64(body + 17);
    record->m_TrafficIn = static_cast<uint32_t>(record->m_TotalIn64);
    record->m_TrafficOut = static_cast<uint32_t>(record->m_TotalOut64);
    record->m_UpdateFlag = body[25];
    return 0;
}

int32_t DecodeResult2(uint16_t length, const uint8_t* body, MonitorRecord* record) {
    constexpr const MonRecordKind& kind = MonResult2Kind;
    const FieldRef refs[] = {Ref(kind, 0, record->m_ResultText)};
    if (!Take<kind>(length, body, refs, record)) {
        return -1;
    }
    record->m_ResultCode = ReadU32(body + 9);
    return 0;
}

int32_t DecodeClose2(uint16_t length, const uint8_t* body, MonitorRecord* record) {
    if (length < MonClose2Kind.m_FixedSize) {
        return -1;
    }
    record->m_Kind = MonClose2Kind.m_Word;
    record->m_Version = 2;
    record->m_EndTime64 = ReadU64(body + 9);
    record->m_CloseValue = static_cast<uint32_t>(record->m_EndTime64);
    return 0;
}

int32_t DecodeVersion2(uint16_t length, const uint8_t* body, MonitorRecord* record) {
    switch (body[0]) {
        case MonOpen2Kind.m_Byte:
            return DecodeOpen2(length, body, record);
        case MonUpdate2Kind.m_Byte:
            return DecodeUpdate2(length, body, record);
        case MonResult2Kind.m_Byte:
            return DecodeResult2(length, body, record);
        case MonClose2Kind.m_Byte:
            return DecodeClose2(length, body, record);
        default:
            return -1;
    }
}

}  // namespace

namespace {

constexpr int32_t WsaEAcces = 10013;        // a refusal for the link's safety
constexpr int32_t WsaEInval = 10022;        // no host at all
constexpr int32_t WsaEConnRefused = 10061;  // ssh could not make the tunnel
constexpr char SshLocalHost[] = "127.0.0.1";

int32_t Fail(MonitorConnection* block, int32_t code) {
    if (code != 0) Mon_TcpSetLastError(code);
    Mon_TcpError(&block->m_LastErrorCode, block->m_LastErrorText);
    return -1;
}

// Connects at the TCP level; the socket is the block's once made.
int32_t Connect(MonitorConnection* block, const std::string& host, uint16_t port) {
    block->m_Socket =
        Mon_TcpConnect(host.c_str(), port, &block->m_LastErrorCode, block->m_LastErrorText);
    return block->m_Socket >= 0 ? 0 : -1;
}

void CloseSocket(MonitorConnection* block) {
    Mon_TcpClose(block->m_Socket, nullptr, nullptr);
    block->m_Socket = -1;
}

// A monitor once seen with TLS is never taken in plain text again: an
// attacker in the path could otherwise just answer without TLS.
bool PinnedForTls(const MonHostForm& form) {
    const std::string path = Mon_TlsGetSettings().m_KnownMonitorsPath;
    return !path.empty() && !MonKnownMonitors(path).Find(Mon_MonitorKey(form)).empty();
}

int32_t OpenPlain(MonitorConnection* block, const MonHostForm& form) {
    if (PinnedForTls(form)) {
        MonTrustProblem problem;
        problem.m_Kind = MonTrustFailure::PlainRefused;
        problem.m_MonitorKey = Mon_MonitorKey(form);
        Mon_TlsSetLastProblem(problem);
        Mon_SetOpenFailureText(Mon_TrustProblemText(problem));
        return Fail(block, WsaEAcces);
    }
    return Connect(block, form.m_Host, form.m_Port);
}

int32_t OpenTls(MonitorConnection* block, const MonHostForm& form) {
    if (Connect(block, form.m_Host, form.m_Port) < 0) return -1;
    // The handshake is part of the connect: a cancel or the limit ends it.
    if (!Mon_TcpWatchAgain(block->m_Socket)) {
        CloseSocket(block);
        return Fail(block, 0);
    }
    const int32_t started =
        Mon_TlsStart(block->m_Socket, form, &block->m_LastErrorCode, block->m_LastErrorText);
    if (!Mon_TcpWatchAgain(-1)) {
        // Nobody waits for this connect any more.
        CloseSocket(block);
        return Fail(block, 0);
    }
    if (started < 0) {
        Mon_SetOpenFailureText(Mon_TrustProblemText(Mon_TlsLastProblem()));
        CloseSocket(block);
        return -1;
    }
    return 0;
}

// The ssh tunnel's time to come up counts against the same limit as a
// connect.
int TunnelLimitMs() {
    const int limit = GetSessionLimits().m_ConnectMs;
    return limit > 0 ? limit : SessionLimits{}.m_ConnectMs;
}

int32_t OpenSsh(MonitorConnection* block, const MonHostForm& form) {
    auto tunnel = std::make_unique<MonSshTunnel>();
    std::string error;
    if (!tunnel->Start(form, TunnelLimitMs(), error)) {
        Mon_SetOpenFailureText("ssh to " + form.m_SshHost + " failed: " + error);
        return Fail(block, WsaEConnRefused);
    }
    if (Connect(block, SshLocalHost, tunnel->LocalPort()) < 0) return -1;
    if (!Mon_TcpAttachTunnel(block->m_Socket, std::move(tunnel))) {
        CloseSocket(block);
        return Fail(block, 0);
    }
    return 0;
}

}  // namespace

int32_t Mon_Open(const char* hostName, MonitorConnection** connection) {
    if (connection == nullptr) {
        return -1;
    }
    *connection = nullptr;
    MonitorConnection* block = new (std::nothrow) MonitorConnection{};
    if (block == nullptr) {
        return -1;
    }
    *connection = block;
    block->m_Socket = -1;
    Mon_TlsSetLastProblem({});
    Mon_SetOpenFailureText({});
    if (hostName == nullptr) {
        return Fail(block, WsaEInval);
    }
    // "host:port" and "[IPv6]:port" name another port than the monitor's own;
    // tls:// and ssh:// choose the route.
    MonHostForm form;
    if (!Mon_ParseHostForm(hostName, form)) {
        return Fail(block, WsaHostNotFound);
    }
    switch (form.m_Route) {
        case MonRoute::Tls:
            return OpenTls(block, form);
        case MonRoute::Ssh:
            return OpenSsh(block, form);
        case MonRoute::Plain:
            break;
    }
    return OpenPlain(block, form);
}

int32_t Mon_Close(MonitorConnection* connection) {
    if (connection == nullptr) {
        return -1;
    }
    Mon_TcpClose(connection->m_Socket, &connection->m_LastErrorCode, connection->m_LastErrorText);
    delete connection;
    return 0;
}

int32_t Mon_ReadMessage(MonitorConnection* connection) {
    if (connection == nullptr) {
        return -1;
    }
    if (!connection->m_bRequestOutstanding) {
        if (Mon_TcpSend(connection->m_Socket, sizeof RequestBody, RequestBody,
                        &connection->m_LastErrorCode, connection->m_LastErrorText) < 0) {
            return -1;
        }
        connection->m_bRequestOutstanding = 1;
    }
    const int32_t length =
        Mon_TcpRecv(connection->m_Socket, sizeof connection->m_Buffer, connection->m_Buffer,
                    &connection->m_LastErrorCode, connection->m_LastErrorText);
    if (length == 0) {
        connection->m_bRequestOutstanding = 0;
    }
    return length;
}

void Mon_SetIllegal(MonitorConnection* connection) {
    std::snprintf(connection->m_LastErrorText, sizeof connection->m_LastErrorText, "%s",
                  IllegalMessageText);
}

int32_t Mon_Read(MonitorConnection* connection, MonitorRecord* record) {
    const int32_t length = Mon_ReadMessage(connection);
    if (length <= 0) {
        return length;
    }
    const int version = Mon_TcpLinkVersion(connection->m_Socket);
    if (Mon_DecodeVersion(version, static_cast<uint16_t>(length), connection->m_Buffer, record) <
        0) {
        Mon_SetIllegal(connection);
        return -1;
    }
    return 1;
}

// The decoder never reads outside the body: a body shorter than its kind's
// fixed part, a reference beyond the body or an address that is not 16 bytes
// makes the message illegal, and the record's fields are then left alone
// except for the id words.
int32_t Mon_Decode(uint16_t length, const uint8_t* body, MonitorRecord* record) {
    if (body == nullptr || record == nullptr || length < MonHeaderSize) {
        return -1;
    }
    record->m_IdHigh = ReadU32(body + 1);
    record->m_IdLow = ReadU32(body + 5);
    switch (body[0]) {
        case MonOpenKind.m_Byte:
            return DecodeOpen(length, body, record);
        case MonUpdateKind.m_Byte:
            return DecodeUpdate(length, body, record);
        case MonResultKind.m_Byte:
            return DecodeResult(length, body, record);
        case MonCloseKind.m_Byte:
            return DecodeClose(length, body, record);
        default:
            return -1;
    }
}

int32_t Mon_DecodeVersion(int version, uint16_t length, const uint8_t* body,
                          MonitorRecord* record) {
    if (version == 1) return Mon_Decode(length, body, record);
    if (version != 2 || body == nullptr || record == nullptr || length < MonHeaderSize) return -1;
    record->m_IdHigh = ReadU32(body + 1);
    record->m_IdLow = ReadU32(body + 5);
    return DecodeVersion2(length, body, record);
}
