#pragma once
// What vgl-monitor lets a client marked "act" do to Dante: close a session,
// by destroying its sockets through the kernel. Dante then sees its sockets
// fail, ends the session and logs it, and the close reaches the records as
// any other does. Blocks are not offered: which clients and destinations
// Dante serves is its configuration, kept by its administrator.

#include <cstdint>
#include <string>

#include "DanteMonitor.h"
#include "MonitorControl.h"
#include "SocketDestroyer.h"

class DanteControl : public MonitorControl {
public:
    // `idHigh`: the high word of the connection ids the hub hands out.
    DanteControl(DanteMonitor& dante, uint32_t idHigh) : m_Dante(dante), m_IdHigh(idHigh) {}

    uint32_t Abilities(std::string& whyNot) const override;
    MonControlAnswer Close(const ControlCaller& caller, uint32_t idHigh, uint32_t idLow) override;

    // Whether this process may destroy other processes' sockets.
    static bool MayDestroySockets();

private:
    DanteMonitor& m_Dante;
    const uint32_t m_IdHigh;
    SocketDestroyer m_Destroyer;
};
