#include "core/monitor/MonControl.h"

#include <cctype>

#include "core/base/Cidr.h"
#include "core/monitor/MonStream.h"

namespace {

// A destination's host name may be longer than the texts of the records.
constexpr size_t MaxValue = 253;

// Builds one body: the header, fixed fields written in place, then the
// references and the bytes they point at.
class Body {
public:
    Body(const MonRecordKind& kind, uint32_t idHigh, uint32_t idLow) : m_Kind(kind) {
        m_Bytes.resize(kind.m_FixedSize, 0);
        m_Bytes[0] = kind.m_Byte;
        Put(1, idHigh, 4);
        Put(5, idLow, 4);
    }
    void Put(size_t at, uint64_t value, size_t width) {
        for (size_t i = 0; i < width; ++i) {
            m_Bytes[at + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
        }
    }
    void AddText(const std::string& text, size_t limit = MonTextLimit) {
        const size_t at = m_Kind.RefOffset(m_Refs++);
        const std::string_view kept = MonFieldText(text, limit);
        if (kept.empty()) return;
        Put(at, kept.size(), 2);
        Put(at + 2, m_Area.size(), 2);
        m_Area.insert(m_Area.end(), kept.begin(), kept.end());
    }
    MonBytes Finish() {
        m_Bytes.insert(m_Bytes.end(), m_Area.begin(), m_Area.end());
        return std::move(m_Bytes);
    }

private:
    const MonRecordKind& m_Kind;
    MonBytes m_Bytes;
    MonBytes m_Area;
    size_t m_Refs = 0;
};

// Reads one body of a kind; every read is checked against the body's end.
class Reader {
public:
    Reader(const uint8_t* body, size_t length, const MonRecordKind& kind)
        : m_Body(body), m_Length(length), m_Kind(kind) {
        m_bOk = body != nullptr && length >= kind.m_FixedSize && body[0] == kind.m_Byte;
    }
    bool Ok() const { return m_bOk; }
    uint64_t Get(size_t at, size_t width) const {
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) value = value << 8 | m_Body[at + i];
        return value;
    }
    std::string Text(size_t index) {
        const size_t at = m_Kind.RefOffset(index);
        const size_t length = Get(at, 2), offset = Get(at + 2, 2);
        const size_t start = m_Kind.m_FixedSize + offset;
        if (length == 0) return {};
        if (start + length > m_Length) {
            m_bOk = false;
            return {};
        }
        return std::string(reinterpret_cast<const char*>(m_Body + start), length);
    }

private:
    const uint8_t* m_Body;
    size_t m_Length;
    const MonRecordKind& m_Kind;
    bool m_bOk;
};

bool KnownOp(uint8_t op) {
    return op <= static_cast<uint8_t>(MonControlOp::ListBlocks);
}

bool KnownWhat(uint8_t what) {
    return what >= static_cast<uint8_t>(MonBlockWhat::User) &&
           what <= static_cast<uint8_t>(MonBlockWhat::Destination);
}

// Letters, digits, '-' and '.', labels of 1 to 63: a host name, or the
// part of one that a destination block names.
bool IsHostName(const std::string& name) {
    if (name.empty() || name.size() > 253) return false;
    size_t label = 0;
    for (const char c : name) {
        const bool part = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
        } else if (!part || ++label > 63) {
            return false;
        }
    }
    return label != 0;
}

// The connection's error for an answer that is not one.
int32_t Illegal(MonitorConnection* connection) {
    Mon_SetIllegal(connection);
    return -1;
}

}  // namespace

MonBytes EncodeControlRequest(const MonControlRequest& request) {
    Body body(MonControlKind, request.m_IdHigh, request.m_IdLow);
    body.Put(9, static_cast<uint8_t>(request.m_Op), 1);
    body.Put(10, static_cast<uint8_t>(request.m_What), 1);
    body.Put(11, request.m_Seconds, 4);
    body.Put(15, request.m_bCloseOpen ? 1 : 0, 1);
    body.Put(16, request.m_BlockId, 4);
    body.AddText(request.m_Value, MaxValue);
    body.AddText(request.m_Note);
    return body.Finish();
}

bool DecodeControlRequest(const uint8_t* body, size_t length, MonControlRequest& request) {
    Reader reader(body, length, MonControlKind);
    if (!reader.Ok() || !KnownOp(body[9])) return false;
    MonControlRequest read;
    read.m_IdHigh = static_cast<uint32_t>(reader.Get(1, 4));
    read.m_IdLow = static_cast<uint32_t>(reader.Get(5, 4));
    read.m_Op = static_cast<MonControlOp>(body[9]);
    if (read.m_Op == MonControlOp::Block && !KnownWhat(body[10])) return false;
    if (KnownWhat(body[10])) read.m_What = static_cast<MonBlockWhat>(body[10]);
    read.m_Seconds = static_cast<uint32_t>(reader.Get(11, 4));
    read.m_bCloseOpen = (body[15] & 1) != 0;
    read.m_BlockId = static_cast<uint32_t>(reader.Get(16, 4));
    read.m_Value = reader.Text(0);
    read.m_Note = reader.Text(1);
    if (!reader.Ok()) return false;
    request = std::move(read);
    return true;
}

MonBytes EncodeControlAnswer(const MonControlAnswer& answer) {
    Body body(MonAnswerKind, 0, 0);
    body.Put(9, static_cast<uint8_t>(answer.m_Op), 1);
    body.Put(10, static_cast<uint8_t>(answer.m_Status), 1);
    body.Put(11, answer.m_Value, 4);
    body.Put(15, answer.m_Closed, 4);
    body.AddText(answer.m_Text);
    return body.Finish();
}

bool DecodeControlAnswer(const uint8_t* body, size_t length, MonControlAnswer& answer) {
    Reader reader(body, length, MonAnswerKind);
    if (!reader.Ok() || !KnownOp(body[9]) || body[10] > 1) return false;
    MonControlAnswer read;
    read.m_Op = static_cast<MonControlOp>(body[9]);
    read.m_Status = static_cast<MonControlStatus>(body[10]);
    read.m_Value = static_cast<uint32_t>(reader.Get(11, 4));
    read.m_Closed = static_cast<uint32_t>(reader.Get(15, 4));
    read.m_Text = reader.Text(0);
    if (!reader.Ok()) return false;
    answer = std::move(read);
    return true;
}

MonBytes EncodeBlock(const MonBlock& block) {
    Body body(MonBlockKind, 0, block.m_Id);
    body.Put(9, static_cast<uint8_t>(block.m_What), 1);
    body.Put(10, block.m_Since, 8);
    body.Put(18, block.m_Until, 8);
    body.AddText(block.m_Value, MaxValue);
    body.AddText(block.m_ByName);
    body.AddText(block.m_ByFingerprint);
    body.AddText(block.m_Note);
    return body.Finish();
}

bool DecodeBlock(const uint8_t* body, size_t length, MonBlock& block) {
    Reader reader(body, length, MonBlockKind);
    if (!reader.Ok() || !KnownWhat(body[9])) return false;
    MonBlock read;
    read.m_Id = static_cast<uint32_t>(reader.Get(5, 4));
    read.m_What = static_cast<MonBlockWhat>(body[9]);
    read.m_Since = reader.Get(10, 8);
    read.m_Until = reader.Get(18, 8);
    read.m_Value = reader.Text(0);
    read.m_ByName = reader.Text(1);
    read.m_ByFingerprint = reader.Text(2);
    read.m_Note = reader.Text(3);
    if (!reader.Ok()) return false;
    block = std::move(read);
    return true;
}

std::string MonBlockValueProblem(MonBlockWhat what, const std::string& value) {
    const std::string quoted = "\"" + value + "\"";
    switch (what) {
        case MonBlockWhat::User:
            if (value.empty()) return "a user block needs a user name";
            if (value.size() > MonTextLimit) return "a user name has at most 127 bytes";
            return {};
        case MonBlockWhat::Client:
            if (Cidr::Parse(value)) return {};
            return quoted + " is not an address or network (such as 192.0.2.7 or 2001:db8::/32)";
        case MonBlockWhat::Destination:
            if (Cidr::Parse(value) || IsHostName(value)) return {};
            if (value.size() > MaxValue) return "a host name has at most 253 bytes";
            return quoted + " is not an address, network or host name";
    }
    return "unknown kind of block";
}

const char* MonBlockWhatName(MonBlockWhat what) {
    switch (what) {
        case MonBlockWhat::User:
            return "user";
        case MonBlockWhat::Client:
            return "client";
        case MonBlockWhat::Destination:
            return "destination";
    }
    return "block";
}

std::string MonBlockText(MonBlockWhat what, const std::string& value) {
    return std::string(MonBlockWhatName(what)) + " " + value;
}

// A control exchange runs between polls, so the link's next message is the
// answer (or, for a list, a block).
int32_t Mon_Control(MonitorConnection* connection, const MonControlRequest& request,
                    MonControlAnswer& answer, std::vector<MonBlock>* blocks) {
    if (connection == nullptr || connection->m_bRequestOutstanding) return -1;
    const MonBytes body = EncodeControlRequest(request);
    if (Mon_TcpSend(connection->m_Socket, static_cast<uint16_t>(body.size()), body.data(),
                    &connection->m_LastErrorCode, connection->m_LastErrorText) < 0) {
        return -1;
    }
    for (;;) {
        const int32_t length =
            Mon_TcpRecv(connection->m_Socket, sizeof connection->m_Buffer, connection->m_Buffer,
                        &connection->m_LastErrorCode, connection->m_LastErrorText);
        if (length < 0) return -1;
        const size_t size = static_cast<size_t>(length);
        const uint8_t* message = connection->m_Buffer;
        if (size > 0 && message[0] == MonBlockKind.m_Byte) {
            MonBlock block;
            if (!DecodeBlock(message, size, block)) return Illegal(connection);
            if (blocks) blocks->push_back(std::move(block));
            continue;
        }
        if (!DecodeControlAnswer(message, size, answer) || answer.m_Op != request.m_Op) {
            return Illegal(connection);
        }
        return 0;
    }
}
