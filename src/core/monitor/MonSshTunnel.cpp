#include "core/monitor/MonSshTunnel.h"

// Placeholder until the ssh route is built.
MonSshTunnel::~MonSshTunnel() {
    Stop();
}
bool MonSshTunnel::Start(const MonHostForm&, int, std::string& error) {
    error = "not built yet";
    return false;
}
void MonSshTunnel::Stop() {}
bool MonSshTunnel::IsRunning() const {
    return false;
}
void MonSshTunnel::SetProgram(const std::string&) {}
