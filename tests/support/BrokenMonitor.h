#pragma once
// A monitor that breaks one rule of the protocol on purpose, for the
// checker's tests: a fake monitor whose first two polls carry the fault
// among records that are right.

#include "FakeMonitor.h"

class BrokenMonitor {
public:
    enum class Fault {
        None,              // everything right: open, update, result, close
        RefOutsideBody,    // the open's user name points past the body
        CloseWithoutOpen,  // a close of a connection never opened
        TotalsGoDown,      // the second poll's update has a smaller total
        ControlText,       // a result text with a control character
    };

    explicit BrokenMonitor(Fault fault);
    const std::string& Host() const { return m_Monitor.Host(); }

private:
    FakeMonitor m_Monitor;
};
