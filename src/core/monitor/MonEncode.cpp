#include "core/monitor/MonEncode.h"

#include <sys/socket.h>

namespace {

// Writes the StringRefs of one record and collects the bytes they point at.
class VariableArea {
public:
    explicit VariableArea(MonBytes& body) : m_Body(body) {}

    void AddRef(const uint8_t* data, size_t length) {
        if (length == 0) {
            AppendU32(m_Body, 0);
            return;
        }
        AppendU16(m_Body, static_cast<uint16_t>(length));
        AppendU16(m_Body, static_cast<uint16_t>(m_Area.size()));
        m_Area.insert(m_Area.end(), data, data + length);
    }
    void AddText(std::string_view text) {
        AddRef(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    void AddBytes(const MonBytes& bytes) { AddRef(bytes.data(), bytes.size()); }
    void Finish() { m_Body.insert(m_Body.end(), m_Area.begin(), m_Area.end()); }

private:
    MonBytes& m_Body;
    MonBytes m_Area;
};

MonBytes Header(uint8_t kind, uint32_t idHigh, uint32_t idLow) {
    MonBytes body;
    body.reserve(160);
    body.push_back(kind);
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
    MonBytes body = Header(1, idHigh, idLow);
    body.push_back(auth);
    AppendU32(body, startTime);
    AppendU32(body, reserved);
    VariableArea area(body);
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
    MonBytes body = Header(2, idHigh, idLow);
    AppendU32(body, reserved);
    AppendU32(body, trafficIn);
    AppendU32(body, trafficOut);
    body.push_back(updateFlag);
    VariableArea area(body);
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
    MonBytes body = Header(3, idHigh, idLow);
    AppendU32(body, reserved);
    AppendU32(body, code);
    VariableArea area(body);
    area.AddText(text);
    area.Finish();
    return body;
}

MonBytes EncodeClose(uint32_t idHigh, uint32_t idLow, uint32_t closeValue) {
    MonBytes body = Header(4, idHigh, idLow);
    AppendU32(body, closeValue);
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
