#pragma once
// Test helpers around the project's monitor encoder (core/monitor/MonEncode.h): the
// same records, plus what only tests need to build odd or malformed bytes.

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/monitor/MonEncode.h"

// "a.b.c.d" as a 16-byte socket address; an unparsable text gives an empty vector.
MonBytes EncodeSockAddr(std::string_view dotted, uint16_t port = 0);

// A length field announcing `length` bytes, followed by exactly that many bytes
// of `fill`; used for oversized messages (length above 1024).
MonBytes FrameFilled(uint16_t length, uint8_t fill = 0xAB);

// Low-level helpers for hand-made (also malformed) bodies.
void PutU16(MonBytes& bytes, size_t offset, uint16_t value);  // overwrite in place
void PutU32(MonBytes& bytes, size_t offset, uint32_t value);
MonBytes Concat(const std::vector<MonBytes>& parts);
// Overwrites the index-th StringRef of a body, found where the body's kind
// has it (MonRecordKind.h); throws for a body of no known kind.
void PutRef(MonBytes& body, size_t index, uint16_t length, uint16_t offset);
