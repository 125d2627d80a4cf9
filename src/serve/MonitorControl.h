#pragma once
// What a program that serves records lets its monitor clients do to it. The
// monitor client checks the link (TLS with "vgl-monitor/2.1") and the mark
// in the clients file, writes the audit line and answers; the program only
// acts. Called on the monitor's I/O threads, so each call must be quick and
// safe from any thread.

#include <string>
#include <vector>

#include "core/monitor/MonControl.h"

// Who asks: the client key as the clients file names it.
struct ControlCaller {
    std::string m_Name;
    std::string m_Fingerprint;
    std::string m_Endpoint;  // "192.0.2.7:40112"
};

class MonitorControl {
public:
    virtual ~MonitorControl() = default;

    // What this program can do for any client (MonMayClose, MonMayBlock);
    // `whyNot` says why something is missing ("vgl-monitor does not block:
    // Dante's rules stay its administrator's").
    virtual uint32_t Abilities(std::string& whyNot) const = 0;
    // Each answers Done or Refused with a text for the operator.
    virtual MonControlAnswer Close(const ControlCaller& caller, uint32_t idHigh,
                                   uint32_t idLow) = 0;
    virtual MonControlAnswer Block(const ControlCaller& caller, const MonControlRequest& request);
    virtual MonControlAnswer Lift(const ControlCaller& caller, uint32_t blockId);
    virtual std::vector<MonBlock> Blocks() const { return {}; }
    // Every answer a client got, the desk's own refusals included (a key
    // without the mark, a value that cannot be blocked), for the metrics.
    virtual void Answered(MonControlOp /*op*/, MonControlStatus /*status*/) {}
};
