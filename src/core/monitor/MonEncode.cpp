#include "core/monitor/MonEncode.h"

#include <sys/socket.h>

#include "core/monitor/MonRecordKind.h"

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

// Placeholders until the second version of the records is built.
MonBytes EncodeNetAddress(const MonNetAddress&) {
    return {};
}
MonBytes EncodeOpen2(uint32_t, uint32_t, uint8_t, uint64_t, std::string_view, const MonNetAddress&,
                     std::string_view) {
    return {};
}
MonBytes EncodeUpdate2(uint32_t, uint32_t, std::string_view, const MonNetAddress&, std::string_view,
                       const MonNetAddress&, std::string_view, uint64_t, uint64_t, uint8_t) {
    return {};
}
MonBytes EncodeResult2(uint32_t, uint32_t, uint32_t, std::string_view) {
    return {};
}
MonBytes EncodeClose2(uint32_t, uint32_t, uint64_t) {
    return {};
}
