#pragma once
// A scriptable monitor for tests: it listens on port 5051 of a random free
// loopback address 127.x.y.z (so tests can run in parallel), serves one client
// connection at a time on its own thread, and answers each request frame with
// the next queued reply. With nothing queued a request gets the empty message,
// so a poll never hangs. After a client connection ends (either side) it
// accepts the next one, and queued replies carry over to it.
//
// Nothing here ever blocks a test for long: the destructor stops the thread
// even while a client is connected or a reply is stalled, and every Wait...
// call gives up after its time-out and returns false.
//
// Typical use:
//   FakeMonitor monitor;
//   monitor.QueueBatch({EncodeOpen(...), EncodeUpdate(...)});
//   Mon_Open(monitor.Host().c_str(), &connection);   // ...Mon_Read until 0
//   EXPECT_EQ(monitor.RequestCount(), 1u);

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/RecordEncoder.h"

// One step of a scripted reply.
struct FakeStep {
    enum class Action { Send, SendBytewise, Close, Reset, Stall };
    Action m_Action = Action::Send;
    MonBytes m_Bytes;

    static FakeStep Send(MonBytes bytes);          // in one write
    static FakeStep SendBytewise(MonBytes bytes);  // one write per byte, with a short pause
    static FakeStep Close();                       // orderly close: the client reads end of stream
    static FakeStep Reset();                       // abortive close: the client gets a reset error
    static FakeStep Stall();                       // wait for Resume() (or the destructor)
};
using FakeReply = std::vector<FakeStep>;

class FakeMonitor {
public:
    static constexpr uint16_t Port = 5051;

    enum class Loopback { Ipv4, Ipv6 };
    // Ipv6 listens on a free port of ::1 (there is only one IPv6 loopback
    // address, so not on 5051): Host() is "::1" and ListenPort() the port.
    explicit FakeMonitor(Loopback where = Loopback::Ipv4);  // throws when it cannot bind
    ~FakeMonitor();
    FakeMonitor(const FakeMonitor&) = delete;
    FakeMonitor& operator=(const FakeMonitor&) = delete;

    // The address to connect to, "127.x.y.z" (port 5051).
    const std::string& Host() const { return m_Host; }
    uint16_t ListenPort() const { return m_ListenPort; }

    // Replies, taken one per request frame in the order queued.
    void QueueBatch(const std::vector<MonBytes>& bodies);  // framed records, then 0x00 0x00
    void QueueRaw(MonBytes bytes);                         // bytes sent as they are
    void QueueReply(FakeReply steps);
    // What a request gets when nothing is queued (initially the empty message).
    void SetDefaultReply(FakeReply steps);

    // Lets one Stall step go on. A Resume() given before the stall is reached
    // is kept, and that stall then passes at once.
    void Resume();
    // Closes the current client connection (orderly, or with a reset when
    // abortive) and returns once it is closed; a connection the client has
    // made but the monitor not yet accepted is accepted and closed. Does
    // nothing when no client is there.
    void CloseClient(bool abortive = false);

    // What the clients sent.
    size_t RequestCount() const;
    std::vector<MonBytes> Requests() const;  // each frame as received, length field included
    MonBytes Received() const;               // every byte received, in order, over all clients
    size_t ConnectionCount() const;          // client connections accepted so far
    size_t DisconnectCount() const;          // client connections that have ended so far
    size_t PendingReplies() const;           // queued replies not yet taken

    // Block until the count is reached; false after timeoutMs without it.
    bool WaitForRequests(size_t count, int timeoutMs = 10000) const;
    bool WaitForConnections(size_t count, int timeoutMs = 10000) const;
    bool WaitForDisconnects(size_t count, int timeoutMs = 10000) const;

private:
    void Bind();
    void BindIpv6();
    void Run();
    bool AcceptClient();
    void DropClient(bool abortive);
    bool ReadFromClient();
    void AnswerFrames();
    bool Execute(const FakeReply& reply);
    bool SendAll(const uint8_t* data, size_t size);
    bool WaitWake(int timeoutMs);
    bool Stall();
    bool HandleCommands();
    void Wake();
    template <typename Pred>
    bool WaitFor(Pred pred, int timeoutMs) const;

    std::string m_Host;
    uint16_t m_ListenPort = Port;
    int m_ListenFd = -1;
    int m_ClientFd = -1;
    int m_WakeFd = -1;
    MonBytes m_Incoming;  // client bytes not yet parsed into frames

    mutable std::mutex m_Mutex;
    mutable std::condition_variable m_Changed;
    std::deque<FakeReply> m_Replies;
    FakeReply m_DefaultReply;
    std::vector<MonBytes> m_Requests;
    MonBytes m_Received;
    size_t m_Connections = 0;
    size_t m_Disconnects = 0;
    size_t m_Resumes = 0;
    size_t m_CloseRequests = 0;
    size_t m_ClosesDone = 0;
    bool m_bAbortiveClose = false;
    bool m_bStop = false;

    std::thread m_Thread;
};
