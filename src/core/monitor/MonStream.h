#pragma once
// The monitor protocol: the client sends a one-byte request (0x00) and the
// monitor answers with record messages of the kinds in MonRecordKind.h (open,
// update, result, close), ending the batch with an empty message.

#include <cstdint>

#include "core/monitor/MonRecordKind.h"
#include "core/monitor/MonTcp.h"

constexpr uint16_t MonitorPort = 5051;

struct MonitorConnection {
    MonSocket m_Socket;
    int32_t m_LastErrorCode;
    uint8_t m_bRequestOutstanding;
    char m_LastErrorText[128];
    uint8_t m_Buffer[1024];
};

// An address of either family with its port, as the second version of the
// records carries it (and as a first-version socket address is read). Plain
// data, as the rest of the record: zeroed means none.
struct MonNetAddress {
    uint8_t m_Family;  // 0 none, 4 IPv4, 6 IPv6
    uint16_t m_Port;
    uint8_t m_Bytes[16];  // IPv4 in the first 4, network order
};

struct MonitorRecord {
    uint32_t m_IdHigh, m_IdLow, m_Kind, m_StartTime, m_Reserved, m_CloseValue, m_TrafficIn,
        m_TrafficOut, m_ResultCode;
    uint8_t m_SourceAddr[16], m_NextServerAddr[16], m_DestAddr[16];
    uint8_t m_AuthMethod, m_UpdateFlag;
    char m_UserName[128], m_ServiceName[16], m_SourceName[128], m_NextServerName[128],
        m_DestName[128], m_ResultText[128];
    // What the second version of the records brings. A first-version record
    // sets m_Version 1 and copies what it has here too (addresses read from
    // their socket addresses, totals widened), so that the table reads these.
    uint8_t m_Version;
    uint64_t m_StartTime64, m_EndTime64, m_TotalIn64, m_TotalOut64;
    MonNetAddress m_Source, m_NextServer, m_Dest;
};

// Kind words of a decoded record.
constexpr uint32_t RecordKindOpen = MonOpenKind.m_Word;
constexpr uint32_t RecordKindUpdate = MonUpdateKind.m_Word;
constexpr uint32_t RecordKindResult = MonResultKind.m_Word;
constexpr uint32_t RecordKindClose = MonCloseKind.m_Word;

int32_t Mon_Open(const char* hostName, MonitorConnection** connection);
int32_t Mon_Close(MonitorConnection* connection);
int32_t Mon_Read(MonitorConnection* connection, MonitorRecord* record);
int32_t Mon_Decode(uint16_t length, const uint8_t* body, MonitorRecord* record);
// Decodes a body of the negotiated version (1: what Mon_Decode reads; 2: the
// second version's kinds only).
int32_t Mon_DecodeVersion(int version, uint16_t length, const uint8_t* body,
                          MonitorRecord* record);

// The reading step of Mon_Read without the decoding: sends the request when
// none is outstanding and receives the next message into m_Buffer. Returns
// its length, 0 for the empty message that ends the batch, -1 on failure.
int32_t Mon_ReadMessage(MonitorConnection* connection);
// Records that the message in m_Buffer was not a valid record.
void Mon_SetIllegal(MonitorConnection* connection);
