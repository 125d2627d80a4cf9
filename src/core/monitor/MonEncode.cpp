#include "core/monitor/MonEncode.h"

#include <sys/socket.h>

#include "core/monitor/MonRecordKind.h"
#include "core/monitor/MonStream.h"

namespace {

// Writes the StringRefs of one record where its kind has them, after the
// fixed fields, and collects the bytes they point at.
class VariableArea {
public:
    VariableArea(MonBytes& body, const MonRecordKind& kind) : m_Body(body), m_Kind(kind) {
        m_Body.resize(kind.m_FixedSize, 0);  // a reference left as zeros is not sent
    }

    void AddRef(const uint8_t* data, size_t length) {
        const size_t at = m_Kind.RefOffset(m_Count++);
        if (length == 0) return;
        Put(at, static_cast<uint16_t>(length));
        Put(at + 2, static_cast<uint16_t>(m_Area.size()));
        m_Area.insert(m_Area.end(), data, data + length);
    }
    void AddText(std::string_view text) {
        AddRef(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    void AddBytes(const MonBytes& bytes) { AddRef(bytes.data(), bytes.size()); }
    void Finish() { m_Body.insert(m_Body.end(), m_Area.begin(), m_Area.end()); }

private:
    void Put(size_t at, uint16_t value) {
        m_Body.at(at) = static_cast<uint8_t>(value >> 8);
        m_Body.at(at + 1) = static_cast<uint8_t>(value);
    }

    MonBytes& m_Body;
    const MonRecordKind& m_Kind;
    size_t m_Count = 0;
    MonBytes m_Area;
};

MonBytes Header(const MonRecordKind& kind, uint32_t idHigh, uint32_t idLow) {
    MonBytes body;
    body.reserve(160);
    body.push_back(kind.m_Byte);
    AppendU32(body, idHigh);
    AppendU32(body, idLow);
    return body;
}

}  // namespace

std::string_view MonFieldText(std::string_view text, size_t limit) {
    return text.substr(0, limit);
}

void AppendU16(MonBytes& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

void AppendU32(MonBytes& bytes, uint32_t value) {
    AppendU16(bytes, static_cast<uint16_t>(value >> 16));
    AppendU16(bytes, static_cast<uint16_t>(value));
}

MonBytes EncodeSockAddr(uint32_t ipv4HostOrder, uint16_t port) {
    MonBytes addr;
    addr.reserve(16);
    addr.push_back(AF_INET & 0xFF);
    addr.push_back((AF_INET >> 8) & 0xFF);
    AppendU16(addr, port);
    AppendU32(addr, ipv4HostOrder);
    addr.resize(16, 0);
    return addr;
}

MonBytes EncodeOpen(uint32_t idHigh, uint32_t idLow, uint8_t auth, uint32_t startTime,
                    std::string_view user, const MonBytes& sourceAddr, std::string_view sourceName,
                    uint32_t reserved) {
    MonBytes body = Header(MonOpenKind, idHigh, idLow);
    body.push_back(auth);
    AppendU32(body, startTime);
    AppendU32(body, reserved);
    VariableArea area(body, MonOpenKind);
    area.AddText(user);
    area.AddBytes(sourceAddr);
    area.AddText(sourceName);
    area.Finish();
    return body;
}

MonBytes EncodeUpdate(uint32_t idHigh, uint32_t idLow, std::string_view service,
                      const MonBytes& nextServerAddr, std::string_view nextServerName,
                      const MonBytes& destAddr, std::string_view destName, uint32_t trafficIn,
                      uint32_t trafficOut, uint8_t updateFlag, uint32_t reserved) {
    MonBytes body = Header(MonUpdateKind, idHigh, idLow);
    AppendU32(body, reserved);
    AppendU32(body, trafficIn);
    AppendU32(body, trafficOut);
    body.push_back(updateFlag);
    VariableArea area(body, MonUpdateKind);
    area.AddText(service);
    area.AddBytes(nextServerAddr);
    area.AddText(nextServerName);
    area.AddBytes(destAddr);
    area.AddText(destName);
    area.Finish();
    return body;
}

MonBytes EncodeResult(uint32_t idHigh, uint32_t idLow, uint32_t code, std::string_view text,
                      uint32_t reserved) {
    MonBytes body = Header(MonResultKind, idHigh, idLow);
    AppendU32(body, reserved);
    AppendU32(body, code);
    VariableArea area(body, MonResultKind);
    area.AddText(text);
    area.Finish();
    return body;
}

MonBytes EncodeClose(uint32_t idHigh, uint32_t idLow, uint32_t closeValue) {
    MonBytes body = Header(MonCloseKind, idHigh, idLow);
    AppendU32(body, closeValue);
    VariableArea(body, MonCloseKind).Finish();
    return body;
}

void AppendU64(MonBytes& bytes, uint64_t value) {
    AppendU32(bytes, static_cast<uint32_t>(value >> 32));
    AppendU32(bytes, static_cast<uint32_t>(value));
}

void AppendFrame(MonBytes& out, const MonBytes& body) {
    AppendU16(out, static_cast<uint16_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

MonBytes FrameMessage(const MonBytes& body) {
    MonBytes frame;
    frame.reserve(body.size() + 2);
    AppendFrame(frame, body);
    return frame;
}

MonBytes FrameBatch(const std::vector<MonBytes>& bodies) {
    MonBytes frames;
    for (const MonBytes& body : bodies) AppendFrame(frames, body);
    AppendU16(frames, 0);
    return frames;
}

MonBytes EncodeNetAddress(const MonNetAddress& address) {
    MonBytes bytes;
    if (address.m_Family != 4 && address.m_Family != 6) return bytes;  // none: not sent
    bytes.reserve(MonAddress6Size);
    bytes.push_back(address.m_Family == 4 ? 0x04 : 0x06);
    AppendU16(bytes, address.m_Port);
    const size_t count = address.m_Family == 4 ? 4 : 16;
    bytes.insert(bytes.end(), address.m_Bytes, address.m_Bytes + count);
    return bytes;
}

MonBytes EncodeOpen2(uint32_t idHigh, uint32_t idLow, uint8_t auth, uint64_t startTime,
                     std::string_view user, const MonNetAddress& source,
                     std::string_view sourceName) {
    MonBytes body = Header(MonOpen2Kind, idHigh, idLow);
    body.push_back(auth);
    AppendU64(body, startTime);
    VariableArea area(body, MonOpen2Kind);
    area.AddText(user);
    area.AddBytes(EncodeNetAddress(source));
    area.AddText(sourceName);
    area.Finish();
    return body;
}

MonBytes EncodeUpdate2(uint32_t idHigh, uint32_t idLow, std::string_view service,
                       const MonNetAddress& nextServer, std::string_view nextServerName,
                       const MonNetAddress& dest, std::string_view destName, uint64_t totalIn,
                       uint64_t totalOut, uint8_t updateFlag) {
    MonBytes body = Header(MonUpdate2Kind, idHigh, idLow);
    AppendU64(body, totalIn);
    AppendU64(body, totalOut);
    body.push_back(updateFlag);
    VariableArea area(body, MonUpdate2Kind);
    area.AddText(service);
    area.AddBytes(EncodeNetAddress(nextServer));
    area.AddText(nextServerName);
    area.AddBytes(EncodeNetAddress(dest));
    area.AddText(destName);
    area.Finish();
    return body;
}

MonBytes EncodeResult2(uint32_t idHigh, uint32_t idLow, uint32_t code, std::string_view text) {
    MonBytes body = Header(MonResult2Kind, idHigh, idLow);
    AppendU32(body, code);
    VariableArea area(body, MonResult2Kind);
    area.AddText(text);
    area.Finish();
    return body;
}

MonBytes EncodeClose2(uint32_t idHigh, uint32_t idLow, uint64_t endTime) {
    MonBytes body = Header(MonClose2Kind, idHigh, idLow);
    AppendU64(body, endTime);
    VariableArea(body, MonClose2Kind).Finish();
    return body;
}
