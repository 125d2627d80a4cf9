#pragma once
// What a session may ask its monitor to do (close connections, block), and
// the requests on their way. Requests wait until the session is between two
// polls, then go out with the next one, which the session starts at once, so
// that its batch already shows what they did. Every request gets its answer:
// the monitor's, or a refusal when the link ends first.

#include <QString>
#include <functional>
#include <vector>

#include "core/monitor/SessionWorker.h"

class SessionControl {
public:
    using Done = std::function<void(const SessionWorker::Reply&)>;

    // After a connect: what the link and the monitor allow this client.
    void Connected(const MonLinkInfo& link, const MonControlAnswer& hello);
    // The link ended: every request still waiting or on its way is refused.
    void Disconnected(const QString& why);

    bool MayClose() const { return (m_Abilities & MonMayClose) != 0; }
    bool MayBlock() const { return (m_Abilities & MonMayBlock) != 0; }
    // Why not, for the disabled items' tooltips; empty when it may.
    QString WhyNotClose() const { return MayClose() ? QString() : m_WhyNot; }
    QString WhyNotBlock() const { return MayBlock() ? QString() : m_WhyNot; }

    void Ask(const MonControlRequest& request, Done done);
    bool HasWaiting() const { return !m_Waiting.empty(); }
    // The waiting requests, for the poll that carries them.
    std::vector<MonControlRequest> TakeWaiting();
    // The poll's replies, in order; a request the link ended before is
    // refused. The answers are told when the returned call runs, which the
    // session leaves until the poll is over: a `done` may ask again.
    std::function<void()> Answered(std::vector<SessionWorker::Reply> replies,
                                   const QString& linkError);

private:
    struct Pending {
        MonControlRequest m_Request;
        Done m_Done;
    };
    static void Refuse(const Pending& pending, const QString& why);

    uint32_t m_Abilities = 0;
    QString m_WhyNot = QStringLiteral("The session is not connected.");
    std::vector<Pending> m_Waiting;
    std::vector<Pending> m_Sent;  // with the poll in flight
};
