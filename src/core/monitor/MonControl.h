#pragma once
// Control requests: what a client may ask of a monitor besides its records
// (close a connection, block a user, a client or a destination, lift a block,
// list the blocks). They exist only on a TLS link whose ALPN chose
// "vgl-monitor/2.1" (the records of version 2, and control), between two
// polls: the client sends one request and reads its answer before it asks
// for records again. Each request gets exactly one answer; a list first
// brings one block message per block. The monitor decides who may act (its
// clients file marks them); a refusal is an answer too, never a closed link.
//
// Bodies are laid out as records are: the kind byte, two id words, fixed
// fields, then string references into the variable area.

#include <cstdint>
#include <string>
#include <vector>

#include "core/monitor/MonEncode.h"
#include "core/monitor/MonRecordKind.h"

enum class MonControlOp : uint8_t {
    Hello = 0,  // what may this client do here; sent once after the handshake
    Close = 1,  // a connection, by its ids
    Block = 2,
    Lift = 3,  // a block, by its number
    ListBlocks = 4,
};

enum class MonBlockWhat : uint8_t {
    User = 1,         // a user name, exactly
    Client = 2,       // a client address or network ("192.0.2.7", "2001:db8::/32")
    Destination = 3,  // an address, a network, or a name and the names under it ("example.com")
};

// The abilities a Hello answer grants, as bits of its value.
constexpr uint32_t MonMayClose = 1;
constexpr uint32_t MonMayBlock = 2;

struct MonControlRequest {
    MonControlOp m_Op = MonControlOp::Hello;
    uint32_t m_IdHigh = 0, m_IdLow = 0;  // Close: the connection
    MonBlockWhat m_What = MonBlockWhat::User;
    std::string m_Value;        // Block: what is blocked
    uint32_t m_Seconds = 0;     // Block: how long; 0 until lifted
    bool m_bCloseOpen = false;  // Block: close the open connections it covers, too
    uint32_t m_BlockId = 0;     // Lift
    std::string m_Note;         // Block: why, as the operator put it
};

enum class MonControlStatus : uint8_t { Done = 0, Refused = 1 };

struct MonControlAnswer {
    MonControlOp m_Op = MonControlOp::Hello;  // of the request it answers
    MonControlStatus m_Status = MonControlStatus::Refused;
    // Hello: the abilities (MonMay...); Block: the new block's number; List:
    // how many blocks.
    uint32_t m_Value = 0;
    uint32_t m_Closed = 0;  // Close and Block: how many connections were closed
    // What happened, or why not ("user alice blocked for 1 h").
    std::string m_Text;
};

struct MonBlock {
    uint32_t m_Id = 0;
    MonBlockWhat m_What = MonBlockWhat::User;
    std::string m_Value;
    std::string m_ByName;         // the client key's name in the monitor's file
    std::string m_ByFingerprint;  // and its fingerprint
    uint64_t m_Since = 0;         // seconds since 1970
    uint64_t m_Until = 0;         // 0: until lifted
    std::string m_Note;
};

// Request: ids (Close), op (9), what (10), seconds (11-14), flags (15: bit 0
// close the open ones), block number (16-19); value, note.
constexpr MonRecordKind MonControlKind{0x20, "control", 0, 28, 2, 0, 2};
// Answer: ids of the request, op (9), status (10), value (11-14), closed
// (15-18); text.
constexpr MonRecordKind MonAnswerKind{0x21, "answer", 0, 23, 1, 0, 2};
// Block: id low the block's number, what (9), since (10-17), until (18-25);
// value, by name, by fingerprint, note.
constexpr MonRecordKind MonBlockKind{0x22, "block", 0, 42, 4, 0, 2};

MonBytes EncodeControlRequest(const MonControlRequest& request);
MonBytes EncodeControlAnswer(const MonControlAnswer& answer);
MonBytes EncodeBlock(const MonBlock& block);
// False for a body that is not one of its kind (short, a reference outside
// the body, an unknown op or what).
bool DecodeControlRequest(const uint8_t* body, size_t length, MonControlRequest& request);
bool DecodeControlAnswer(const uint8_t* body, size_t length, MonControlAnswer& answer);
bool DecodeBlock(const uint8_t* body, size_t length, MonBlock& block);

// Why a block's value cannot be used, empty when it can: a user name that is
// empty or longer than the records carry; a client that is not an address or
// network; a destination that is none of address, network or host name.
std::string MonBlockValueProblem(MonBlockWhat what, const std::string& value);
// "user", "client", "destination".
const char* MonBlockWhatName(MonBlockWhat what);
// "user alice", "client 192.0.2.0/24", "destination example.com".
std::string MonBlockText(MonBlockWhat what, const std::string& value);

// Sends one request on a link that takes control (no poll outstanding) and
// reads its answer; a list's blocks go to `blocks`. 0, or -1 with the
// connection's error set (a failed link, or a message that is not an answer).
struct MonitorConnection;
int32_t Mon_Control(MonitorConnection* connection, const MonControlRequest& request,
                    MonControlAnswer& answer, std::vector<MonBlock>* blocks = nullptr);
