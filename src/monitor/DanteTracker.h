#pragma once
// Dante's sessions as the monitor serves them: each line read is turned
// into the hub's opens, results and closes. An open session is kept by what
// names it in both its lines (client and external endpoints), so that its
// close line finds it; a close without an open (a destination that refused,
// a session opened before the lines we have) is a whole session at once.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ConnectionInfo.h"
#include "DanteLine.h"
#include "MonitorHub.h"

// The kernel's endpoints of an open session's two TCP sockets: the client's
// leg (Dante's end `m_Proxy`, the client's `m_Client`) and the external leg
// (Dante's end `m_External`, the destination's `m_Dest`, no address when the
// line named the destination by name).
struct DanteEndpoints {
    MonNetAddress m_Client{}, m_Proxy{}, m_External{}, m_Dest{};
};

class DanteTracker {
public:
    explicit DanteTracker(MonitorHub& hub) : m_Hub(hub) {}

    // One line of Dante's; `now` stands in for a line without a time.
    void Take(std::string_view line, uint32_t now);
    // The recent lines written before the start: the sessions opened and not
    // closed within them are open now if `stillOpen` says so (Dante still
    // holds their external socket); the others are not reported at all.
    void Learn(const std::vector<std::string>& lines,
               const std::function<bool(const DanteLine&)>& stillOpen);
    // Each open session with the external endpoint that carries its traffic.
    void ForEachOpen(
        const std::function<void(const MonNetAddress& external, ConnectionInfo&)>& visit);

    // The open session with this connection id; false when none is.
    bool FindOpen(uint32_t id, DanteEndpoints& endpoints) const;

    size_t OpenCount() const { return m_Open.size(); }
    uint64_t Sessions() const { return m_Sessions; }
    uint64_t Unreadable() const { return m_Unreadable; }
    // The last line that could not be read, since the last call; empty for none.
    std::string TakeUnreadable();

private:
    struct Session {
        std::shared_ptr<ConnectionInfo> m_Info;
        DanteEndpoints m_Endpoints;
    };

    std::shared_ptr<ConnectionInfo> MakeInfo(const DanteLine& line, uint32_t start);
    void Open(const DanteLine& line, uint32_t now);
    void Close(const DanteLine& line, uint32_t now);
    void Failed(const DanteLine& line, uint32_t now, uint32_t code);
    // The services database is a file read on each look-up: each port's name
    // is looked up once.
    const std::string& Service(uint16_t port);

    MonitorHub& m_Hub;
    std::unordered_map<std::string, Session> m_Open;  // by DanteLine::m_Key
    std::unordered_map<uint16_t, std::string> m_Services;
    uint32_t m_NextId = 1;
    uint64_t m_Sessions = 0;
    uint64_t m_Unreadable = 0;
    std::string m_LastUnreadable;
};

// The result code of one of Dante's reasons: a SOCKS5 reply code for a
// connect that failed, 0 for a session that ended well.
uint32_t DanteResultCode(const std::string& reason);
