#pragma once
// The record kinds of the monitor protocol, each laid out once: the encoder,
// the decoder and the tests' encoder all read them from here. A body starts
// with the kind byte and the two id words, then the kind's fixed fields, then
// its StringRefs (2-byte length, 2-byte offset from the start of the variable
// area), which end the fixed part; the variable area follows. A new kind is a
// row here, a case in the decoder and its use in the table of connections.
//
// The second version of the records (0x11 to 0x14) has the same four kinds
// with wider fields; its address references hold a family byte, the port and
// the address (7 or 19 bytes) rather than a 16-byte socket address. A stream
// carries the kinds of its negotiated version only.

#include <cstddef>
#include <cstdint>

struct MonRecordKind {
    uint8_t m_Byte;         // the first byte of the body
    const char* m_Name;     // "open", "update", "result", "close"
    uint32_t m_Word;        // MonitorRecord::m_Kind once decoded
    uint16_t m_FixedSize;   // where the variable area starts
    uint8_t m_RefCount;     // the StringRefs, the last 4-byte fields of the fixed part
    uint8_t m_AddressRefs;  // bit i set: the i-th StringRef is an address, not a text
    uint8_t m_Version = 1;  // of the records: a stream of one version takes only its kinds

    // Where the i-th StringRef sits in the body.
    constexpr uint16_t RefOffset(size_t i) const {
        return static_cast<uint16_t>(m_FixedSize - 4 * (m_RefCount - i));
    }
    constexpr bool IsAddressRef(size_t i) const { return (m_AddressRefs >> i & 1) != 0; }
};

// The kind byte and the two id words that every body starts with.
constexpr uint16_t MonHeaderSize = 9;
// The length of an address in the variable area of a first-version record.
constexpr size_t MonAddressSize = 16;
// The lengths of a second-version address: family byte 4 or 6, port, address.
constexpr size_t MonAddress4Size = 7;
constexpr size_t MonAddress6Size = 19;

// Open: auth method (byte 9), start time, reserved; user, source address, source name.
constexpr MonRecordKind MonOpenKind{1, "open", 0x80000004, 30, 3, 0b010};
// Update: reserved, traffic in, traffic out, update flag (byte 21); service,
// next server address and name, destination address and name.
constexpr MonRecordKind MonUpdateKind{2, "update", 0x80000001, 42, 5, 0b01010};
// Result: reserved, result code; result text.
constexpr MonRecordKind MonResultKind{3, "result", 0x80000002, 21, 1, 0};
// Close: the close value; no references.
constexpr MonRecordKind MonCloseKind{4, "close", 0, 13, 0, 0};

// Open2: auth method (byte 9), start time u64; user, source address, source name.
constexpr MonRecordKind MonOpen2Kind{0x11, "open", 0x80000004, 30, 3, 0b010, 2};
// Update2: total in u64, total out u64, update flag (byte 25); service, next
// server address and name, destination address and name.
constexpr MonRecordKind MonUpdate2Kind{0x12, "update", 0x80000001, 46, 5, 0b01010, 2};
// Result2: result code; result text.
constexpr MonRecordKind MonResult2Kind{0x13, "result", 0x80000002, 17, 1, 0, 2};
// Close2: the end time u64; no references.
constexpr MonRecordKind MonClose2Kind{0x14, "close", 0, 17, 0, 0, 2};

constexpr const MonRecordKind* MonRecordKinds[] = {&MonOpenKind,    &MonUpdateKind, &MonResultKind,
                                                   &MonCloseKind,   &MonOpen2Kind,  &MonUpdate2Kind,
                                                   &MonResult2Kind, &MonClose2Kind};

// The kind a body's first byte names; null for a byte that names none.
constexpr const MonRecordKind* MonKindOfByte(uint8_t byte) {
    for (const MonRecordKind* kind : MonRecordKinds) {
        if (kind->m_Byte == byte) return kind;
    }
    return nullptr;
}
// The same for a stream of one version: a kind of the other version names none.
constexpr const MonRecordKind* MonKindOfByte(int version, uint8_t byte) {
    const MonRecordKind* kind = MonKindOfByte(byte);
    return kind != nullptr && kind->m_Version == version ? kind : nullptr;
}

// What the table of connections asks of a decoded kind word: an open
// record's word has the value 4 set, a close record's has the top bit clear.
constexpr bool MonIsOpenWord(uint32_t word) {
    return (word & 4u) != 0;
}
constexpr bool MonIsCloseWord(uint32_t word) {
    return (word & 0x80000000u) == 0;
}

// How many kinds of a version have words that pass a test: one kind of each
// version reads as open and one as close, whatever kinds are added.
constexpr int MonKindsWhere(int version, bool (*test)(uint32_t word)) {
    int count = 0;
    for (const MonRecordKind* kind : MonRecordKinds) {
        if (kind->m_Version == version) count += test(kind->m_Word) ? 1 : 0;
    }
    return count;
}
static_assert(MonIsOpenWord(MonOpenKind.m_Word) && MonKindsWhere(1, MonIsOpenWord) == 1);
static_assert(MonIsCloseWord(MonCloseKind.m_Word) && MonKindsWhere(1, MonIsCloseWord) == 1);
static_assert(MonIsOpenWord(MonOpen2Kind.m_Word) && MonKindsWhere(2, MonIsOpenWord) == 1);
static_assert(MonIsCloseWord(MonClose2Kind.m_Word) && MonKindsWhere(2, MonIsCloseWord) == 1);
