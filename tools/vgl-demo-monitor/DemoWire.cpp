#include "DemoWire.h"

#include <algorithm>

namespace demo {

namespace {

constexpr size_t MaxTextLength = 127;  // what the client keeps of a text
constexpr size_t MaxServiceLength = 15;

void PutU16(Body& body, uint16_t value) {
    body.push_back(static_cast<uint8_t>(value >> 8));
    body.push_back(static_cast<uint8_t>(value));
}

void PutU32(Body& body, uint32_t value) {
    PutU16(body, static_cast<uint16_t>(value >> 16));
    PutU16(body, static_cast<uint16_t>(value));
}

Body Header(uint8_t kind, uint32_t idHigh, uint32_t idLow) {
    Body body;
    body.reserve(160);
    body.push_back(kind);
    PutU32(body, idHigh);
    PutU32(body, idLow);
    return body;
}

// Collects the referenced bytes while the StringRefs go into the fixed part.
class Area {
public:
    explicit Area(Body& body) : m_Body(body) {}

    void Text(const std::string& text, size_t limit = MaxTextLength) {
        Ref(reinterpret_cast<const uint8_t*>(text.data()), std::min(text.size(), limit));
    }
    void Address(const SockAddr& address) {
        if (address.m_Ip == 0) {
            Ref(nullptr, 0);
            return;
        }
        // The family as a little-endian host stores sin_family (AF_INET = 2).
        const uint8_t bytes[16] = {2,
                                   0,
                                   static_cast<uint8_t>(address.m_Port >> 8),
                                   static_cast<uint8_t>(address.m_Port),
                                   static_cast<uint8_t>(address.m_Ip >> 24),
                                   static_cast<uint8_t>(address.m_Ip >> 16),
                                   static_cast<uint8_t>(address.m_Ip >> 8),
                                   static_cast<uint8_t>(address.m_Ip)};
        Ref(bytes, sizeof bytes);
    }
    void Finish() { m_Body.insert(m_Body.end(), m_Bytes.begin(), m_Bytes.end()); }

private:
    void Ref(const uint8_t* data, size_t length) {
        PutU16(m_Body, static_cast<uint16_t>(length));
        PutU16(m_Body, length ? static_cast<uint16_t>(m_Bytes.size()) : 0);
        if (length) {
            m_Bytes.insert(m_Bytes.end(), data, data + length);
        }
    }

    Body& m_Body;
    Body m_Bytes;
};

}  // namespace

Body WireOpen(uint32_t idHigh, uint32_t idLow, const OpenFields& fields) {
    Body body = Header(1, idHigh, idLow);
    body.push_back(fields.m_Auth);
    PutU32(body, fields.m_StartTime);
    PutU32(body, 0);
    Area area(body);
    area.Text(fields.m_User);
    area.Address(fields.m_Source);
    area.Text(fields.m_SourceName);
    area.Finish();
    return body;
}

Body WireUpdate(uint32_t idHigh, uint32_t idLow, const UpdateFields& fields) {
    Body body = Header(2, idHigh, idLow);
    PutU32(body, 0);
    PutU32(body, fields.m_TrafficIn);
    PutU32(body, fields.m_TrafficOut);
    body.push_back(0);
    Area area(body);
    area.Text(fields.m_Service, MaxServiceLength);
    area.Address(fields.m_NextServer);
    area.Text(fields.m_NextServerName);
    area.Address(fields.m_Dest);
    area.Text(fields.m_DestName);
    area.Finish();
    return body;
}

Body WireResult(uint32_t idHigh, uint32_t idLow, uint32_t code, const std::string& text) {
    Body body = Header(3, idHigh, idLow);
    PutU32(body, 0);
    PutU32(body, code);
    Area area(body);
    area.Text(text);
    area.Finish();
    return body;
}

Body WireClose(uint32_t idHigh, uint32_t idLow) {
    Body body = Header(4, idHigh, idLow);
    PutU32(body, 0);
    return body;
}

void AppendFrame(Body& out, const Body& body) {
    PutU16(out, static_cast<uint16_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

}  // namespace demo
