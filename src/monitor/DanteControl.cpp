#include "DanteControl.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "core/monitor/MonNetAddress.h"

namespace {

constexpr char NoBlocks[] = "vgl-monitor does not block: Dante's rules stay its administrator's";
constexpr char NoCapability[] = "vgl-monitor needs CAP_NET_ADMIN to close connections";
constexpr char NoKernelSupport[] = "this kernel cannot destroy sockets (CONFIG_INET_DIAG_DESTROY)";

// "127.0.0.5:40112", "[2001:db8::7]:40112".
std::string EndpointText(const MonNetAddress& endpoint) {
    const std::string address = Mon_AddressText(endpoint);
    return (endpoint.m_Family == 6 ? "[" + address + "]" : address) + ":" +
           std::to_string(endpoint.m_Port);
}

MonControlAnswer Answer(MonControlStatus status, std::string text, uint32_t closed = 0) {
    MonControlAnswer answer;
    answer.m_Op = MonControlOp::Close;
    answer.m_Status = status;
    answer.m_Closed = closed;
    answer.m_Text = std::move(text);
    return answer;
}

}  // namespace

bool DanteControl::MayDestroySockets() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_TO_INDEX(CAP_NET_ADMIN)].effective & CAP_TO_MASK(CAP_NET_ADMIN)) != 0;
}

uint32_t DanteControl::Abilities(std::string& whyNot) const {
    if (MayDestroySockets()) {
        whyNot = NoBlocks;
        return MonMayClose;
    }
    whyNot = std::string(NoCapability) + "; " + NoBlocks;
    return 0;
}

// The client's leg first, so that the client hears of the close at once
// rather than after Dante has flushed what it still holds; then the
// destination's. Either one gone already is fine: Dante ends the session
// when one of its legs fails.
MonControlAnswer DanteControl::Close(const ControlCaller&, uint32_t idHigh, uint32_t idLow) {
    const std::string id = std::to_string(idHigh) + ":" + std::to_string(idLow);
    DanteEndpoints session;
    if (idHigh != m_IdHigh || !m_Dante.OpenSession(idLow, session))
        return Answer(MonControlStatus::Refused, "no open connection " + id);
    if (!MayDestroySockets()) return Answer(MonControlStatus::Refused, NoCapability);

    struct Leg {
        const MonNetAddress& m_Local;
        const MonNetAddress& m_Remote;
    };
    const Leg legs[] = {{session.m_Proxy, session.m_Client}, {session.m_External, session.m_Dest}};
    bool destroyed = false;
    for (const Leg& leg : legs) {
        if (!Mon_HasAddress(leg.m_Local) || !Mon_HasAddress(leg.m_Remote)) continue;
        std::string error;
        switch (m_Destroyer.Destroy(leg.m_Local, leg.m_Remote, error)) {
            case SocketDestroyer::Outcome::Destroyed:
                destroyed = true;
                break;
            case SocketDestroyer::Outcome::Gone:
                break;
            case SocketDestroyer::Outcome::NotPermitted:
                return Answer(MonControlStatus::Refused, NoCapability);
            case SocketDestroyer::Outcome::NotSupported:
                return Answer(MonControlStatus::Refused, NoKernelSupport);
            case SocketDestroyer::Outcome::Failed:
                if (!destroyed) return Answer(MonControlStatus::Refused, error);
                break;
        }
    }
    if (!destroyed)
        return Answer(MonControlStatus::Refused, "connection " + id + " has already ended");
    return Answer(MonControlStatus::Done,
                  "closed " + id + " (client " + EndpointText(session.m_Client) + ")", 1);
}
