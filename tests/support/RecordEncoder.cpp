#include "support/RecordEncoder.h"

#include <arpa/inet.h>

#include <stdexcept>
#include <string>

#include "core/monitor/MonRecordKind.h"

void PutU16(MonBytes& bytes, size_t offset, uint16_t value) {
    bytes.at(offset) = static_cast<uint8_t>(value >> 8);
    bytes.at(offset + 1) = static_cast<uint8_t>(value);
}

void PutU32(MonBytes& bytes, size_t offset, uint32_t value) {
    PutU16(bytes, offset, static_cast<uint16_t>(value >> 16));
    PutU16(bytes, offset + 2, static_cast<uint16_t>(value));
}

void PutRef(MonBytes& body, size_t index, uint16_t length, uint16_t offset) {
    const MonRecordKind* kind = MonKindOfByte(body.at(0));
    if (kind == nullptr || index >= kind->m_RefCount) throw std::out_of_range("no such StringRef");
    PutU16(body, kind->RefOffset(index), length);
    PutU16(body, kind->RefOffset(index) + 2, offset);
}

MonBytes Concat(const std::vector<MonBytes>& parts) {
    MonBytes all;
    for (const MonBytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

MonBytes EncodeSockAddr(std::string_view dotted, uint16_t port) {
    in_addr parsed{};
    if (inet_pton(AF_INET, std::string(dotted).c_str(), &parsed) != 1) {
        return {};
    }
    return EncodeSockAddr(ntohl(parsed.s_addr), port);
}

MonBytes FrameFilled(uint16_t length, uint8_t fill) {
    MonBytes frame;
    frame.reserve(size_t{length} + 2);
    AppendU16(frame, length);
    frame.insert(frame.end(), length, fill);
    return frame;
}
