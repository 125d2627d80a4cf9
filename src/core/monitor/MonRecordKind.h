#pragma once
// The record kinds of the monitor protocol, each laid out once: the encoder,
// the decoder and the tests' encoder all read them from here. A body starts
// with the kind byte and the two id words, then the kind's fixed fields, then
// its StringRefs (2-byte length, 2-byte offset from the start of the variable
// area), which end the fixed part; the variable area follows. A new kind is a
// row here, a case in the decoder and its use in the table of connections.

#include <cstddef>
#include <cstdint>

struct MonRecordKind {
    uint8_t m_Byte;         // the first byte of the body
    const char* m_Name;     // "open", "update", "result", "close"
    uint32_t m_Word;        // MonitorRecord::m_Kind once decoded
    uint16_t m_FixedSize;   // where the variable area starts
    uint8_t m_RefCount;     // the StringRefs, the last 4-byte fields of the fixed part
    uint8_t m_AddressRefs;  // bit i set: the i-th StringRef is a 16-byte address, not a text

    // Where the i-th StringRef sits in the body.
    constexpr uint16_t RefOffset(size_t i) const {
        return static_cast<uint16_t>(m_FixedSize - 4 * (m_RefCount - i));
    }
    constexpr bool IsAddressRef(size_t i) const { return (m_AddressRefs >> i & 1) != 0; }
};

// The kind byte and the two id words that every body starts with.
constexpr uint16_t MonHeaderSize = 9;
// The length of an address in the variable area.
constexpr size_t MonAddressSize = 16;

// Open: auth method (byte 9), start time, reserved; user, source address, source name.
constexpr MonRecordKind MonOpenKind{1, "open", 0x80000004, 30, 3, 0b010};
// Update: reserved, traffic in, traffic out, update flag (byte 21); service,
// next server address and name, destination address and name.
constexpr MonRecordKind MonUpdateKind{2, "update", 0x80000001, 42, 5, 0b01010};
// Result: reserved, result code; result text.
constexpr MonRecordKind MonResultKind{3, "result", 0x80000002, 21, 1, 0};
// Close: the close value; no references.
constexpr MonRecordKind MonCloseKind{4, "close", 0, 13, 0, 0};

constexpr const MonRecordKind* MonRecordKinds[] = {&MonOpenKind, &MonUpdateKind, &MonResultKind,
                                                   &MonCloseKind};

// The kind a body's first byte names; null for a byte that names none.
constexpr const MonRecordKind* MonKindOfByte(uint8_t byte) {
    for (const MonRecordKind* kind : MonRecordKinds) {
        if (kind->m_Byte == byte) return kind;
    }
    return nullptr;
}

// What the table of connections asks of a decoded kind word: an open
// record's word has the value 4 set, a close record's has the top bit clear.
constexpr bool MonIsOpenWord(uint32_t word) {
    return (word & 4u) != 0;
}
constexpr bool MonIsCloseWord(uint32_t word) {
    return (word & 0x80000000u) == 0;
}

// How many kinds' words pass a test: one kind reads as open and one as
// close, whatever kinds are added.
constexpr int MonKindsWhere(bool (*test)(uint32_t word)) {
    int count = 0;
    for (const MonRecordKind* kind : MonRecordKinds) count += test(kind->m_Word) ? 1 : 0;
    return count;
}
static_assert(MonIsOpenWord(MonOpenKind.m_Word) && MonKindsWhere(MonIsOpenWord) == 1);
static_assert(MonIsCloseWord(MonCloseKind.m_Word) && MonKindsWhere(MonIsCloseWord) == 1);
