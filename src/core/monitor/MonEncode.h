#pragma once
// Builds monitor message bodies the way a monitor puts them on the wire; the
// one encoder of the project, used by the proxy, the demo monitor, the tests
// and the benchmarks. Multi-byte integers are big-endian. Each kind has a
// fixed part followed by a variable area, as MonRecordKind.h lays them out; a
// StringRef (2-byte length, 2-byte offset from the start of the variable area)
// points at each text or address. The referenced bytes are laid out one after the other in the order of the
// StringRefs; an empty text or address is sent as length 0, offset 0.
//
// Texts go out as given, so that tests can send what a faulty monitor would;
// a real monitor passes them through MonFieldText first.

#include <cstdint>
#include <string_view>
#include <vector>

using MonBytes = std::vector<uint8_t>;

// What the client keeps of a text: 127 characters, 15 of a service name.
constexpr size_t MonTextLimit = 127;
constexpr size_t MonServiceLimit = 15;
std::string_view MonFieldText(std::string_view text, size_t limit = MonTextLimit);

// A 16-byte IPv4 socket address as the monitor sends it: bytes 0-1 the family
// (AF_INET as a little-endian host stores it), 2-3 the port and 4-7 the address
// in network order, 8-15 zero.
MonBytes EncodeSockAddr(uint32_t ipv4HostOrder, uint16_t port = 0);

MonBytes EncodeOpen(uint32_t idHigh, uint32_t idLow, uint8_t auth, uint32_t startTime,
                    std::string_view user, const MonBytes& sourceAddr, std::string_view sourceName,
                    uint32_t reserved = 0);
MonBytes EncodeUpdate(uint32_t idHigh, uint32_t idLow, std::string_view service,
                      const MonBytes& nextServerAddr, std::string_view nextServerName,
                      const MonBytes& destAddr, std::string_view destName, uint32_t trafficIn,
                      uint32_t trafficOut, uint8_t updateFlag = 0, uint32_t reserved = 0);
MonBytes EncodeResult(uint32_t idHigh, uint32_t idLow, uint32_t code, std::string_view text,
                      uint32_t reserved = 0);
MonBytes EncodeClose(uint32_t idHigh, uint32_t idLow, uint32_t closeValue = 0);

// Framing: the 2-byte big-endian body length, then the body. A batch is the
// framed records followed by the empty message 0x00 0x00.
void AppendFrame(MonBytes& out, const MonBytes& body);
MonBytes FrameMessage(const MonBytes& body);
MonBytes FrameBatch(const std::vector<MonBytes>& bodies);

// The second version of the records (negotiated over TLS with ALPN
// "vgl-monitor/2"): addresses of either family with their port, 64-bit totals
// and times, the end time in the close record. An address goes out as its
// family byte (4 or 6), port and address; one of family 0 is not sent.
struct MonNetAddress;
MonBytes EncodeNetAddress(const MonNetAddress& address);
MonBytes EncodeOpen2(uint32_t idHigh, uint32_t idLow, uint8_t auth, uint64_t startTime,
                     std::string_view user, const MonNetAddress& source,
                     std::string_view sourceName);
MonBytes EncodeUpdate2(uint32_t idHigh, uint32_t idLow, std::string_view service,
                       const MonNetAddress& nextServer, std::string_view nextServerName,
                       const MonNetAddress& dest, std::string_view destName, uint64_t totalIn,
                       uint64_t totalOut, uint8_t updateFlag = 0);
MonBytes EncodeResult2(uint32_t idHigh, uint32_t idLow, uint32_t code, std::string_view text);
MonBytes EncodeClose2(uint32_t idHigh, uint32_t idLow, uint64_t endTime);

void AppendU16(MonBytes& bytes, uint16_t value);
void AppendU32(MonBytes& bytes, uint32_t value);
void AppendU64(MonBytes& bytes, uint64_t value);
