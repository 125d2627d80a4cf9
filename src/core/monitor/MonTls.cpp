#include "core/monitor/MonTls.h"

#include <mutex>

// Placeholder until the TLS link is built.
namespace {
std::mutex g_Mutex;
MonTlsSettings g_Settings;
}  // namespace

void Mon_TlsSetSettings(const MonTlsSettings& settings) {
    std::lock_guard lock(g_Mutex);
    g_Settings = settings;
}
MonTlsSettings Mon_TlsGetSettings() {
    std::lock_guard lock(g_Mutex);
    return g_Settings;
}
std::string Mon_TrustProblemText(const MonTrustProblem& problem) {
    return problem.m_Detail;
}
MonTrustProblem Mon_TlsLastProblem() {
    return {};
}
MonLinkInfo Mon_TcpLinkInfo(MonSocket) {
    return {};
}
int32_t Mon_TlsStart(MonSocket, const MonHostForm&, int32_t* errorCode, char* errorText) {
    Mon_TcpSetLastError(10045);
    Mon_TcpError(errorCode, errorText);
    return -1;
}
