#include "DemoWire.h"

#include <cstddef>

#include "core/monitor/MonStream.h"

namespace demo {

namespace {

Body Address(const SockAddr& address) {
    return address.m_Ip == 0 ? Body{} : EncodeSockAddr(address.m_Ip, address.m_Port);
}

}  // namespace

Body WireOpen(uint32_t idHigh, uint32_t idLow, const OpenFields& fields) {
    return EncodeOpen(idHigh, idLow, fields.m_Auth, fields.m_StartTime, MonFieldText(fields.m_User),
                      Address(fields.m_Source), MonFieldText(fields.m_SourceName));
}

Body WireUpdate(uint32_t idHigh, uint32_t idLow, const UpdateFields& fields) {
    return EncodeUpdate(idHigh, idLow, MonFieldText(fields.m_Service, MonServiceLimit),
                        Address(fields.m_NextServer), MonFieldText(fields.m_NextServerName),
                        Address(fields.m_Dest), MonFieldText(fields.m_DestName), fields.m_TrafficIn,
                        fields.m_TrafficOut);
}

Body WireResult(uint32_t idHigh, uint32_t idLow, uint32_t code, const std::string& text) {
    return EncodeResult(idHigh, idLow, code, MonFieldText(text));
}

Body WireClose(uint32_t idHigh, uint32_t idLow, uint32_t endTime) {
    return EncodeClose(idHigh, idLow, endTime);
}

Body WireForVersion(int version, const Body& record) {
    MonitorRecord r{};
    if (version != 2 ||
        Mon_DecodeVersion(1, static_cast<uint16_t>(record.size()), record.data(), &r) != 0) {
        return record;
    }
    switch (record.at(0)) {
        case MonOpenKind.m_Byte:
            return EncodeOpen2(r.m_IdHigh, r.m_IdLow, r.m_AuthMethod, r.m_StartTime64, r.m_UserName,
                               r.m_Source, r.m_SourceName);
        case MonUpdateKind.m_Byte:
            return EncodeUpdate2(r.m_IdHigh, r.m_IdLow, r.m_ServiceName, r.m_NextServer,
                                 r.m_NextServerName, r.m_Dest, r.m_DestName, r.m_TotalIn64,
                                 r.m_TotalOut64, r.m_UpdateFlag);
        case MonResultKind.m_Byte:
            return EncodeResult2(r.m_IdHigh, r.m_IdLow, r.m_ResultCode, r.m_ResultText);
        default:
            return EncodeClose2(r.m_IdHigh, r.m_IdLow, r.m_EndTime64);
    }
}

void Frames::Append(const Body& record) {
    AppendFrame(m_Bytes, record);
    ++m_Records;
}

SharedFrames FrameRecords(const std::vector<Body>& records) {
    auto frames = std::make_shared<Frames>();
    size_t bytes = 0;
    for (const Body& record : records) {
        bytes += 2 + record.size();
    }
    frames->m_Bytes.reserve(bytes);
    for (const Body& record : records) {
        frames->Append(record);
    }
    return frames;
}

SharedFrames FramesForVersion(int version, const SharedFrames& frames) {
    if (version != 2) {
        return frames;
    }
    if (frames->m_pSecondVersion) {
        return frames->m_pSecondVersion;
    }
    auto converted = std::make_shared<Frames>();
    const Body& bytes = frames->m_Bytes;
    for (size_t at = 0; at + 2 <= bytes.size();) {
        const size_t length = (size_t{bytes[at]} << 8) | bytes[at + 1];
        const auto body = bytes.begin() + static_cast<ptrdiff_t>(at + 2);
        converted->Append(
            WireForVersion(version, Body(body, body + static_cast<ptrdiff_t>(length))));
        at += 2 + length;
    }
    frames->m_pSecondVersion = converted;
    return converted;
}

}  // namespace demo
