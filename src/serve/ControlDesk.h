#pragma once
// Answers the control requests of one monitor client: checks that its key
// may act, asks the program (MonitorControl) to, and writes an audit line
// for every action, done or refused. The link itself (TLS, "vgl-monitor/2.1")
// is the caller's to check.

#include <string>

#include "MonitorControl.h"
#include "ServerLog.h"
#include "core/monitor/MonTlsServer.h"

class ControlDesk {
public:
    ControlDesk(MonitorControl* control, const ServerLog& log, const MonTlsPeer& peer,
                std::string endpoint);

    // The framed answer to one request body (a list's blocks first); false
    // for a body that is not a control request.
    bool Answer(const uint8_t* body, size_t length, MonBytes& framed);

private:
    MonControlAnswer Act(const MonControlRequest& request, MonBytes& framed);
    MonControlAnswer Hello() const;
    // Why this client may not act; empty when it may.
    std::string Forbidden() const;
    void Audit(const MonControlRequest& request, const MonControlAnswer& answer) const;

    MonitorControl* const m_pControl;
    const ServerLog& m_Log;
    const MonTlsPeer& m_Peer;
    ControlCaller m_Caller;
};
