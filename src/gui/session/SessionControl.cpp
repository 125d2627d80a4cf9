#include "gui/session/SessionControl.h"

namespace {

// Why a link cannot carry control requests, before any monitor is asked:
// only TLS (through an SSH route or not) carries them.
QString LinkProblem(const MonLinkInfo& link) {
    if (link.m_bTunnel && !link.m_bEncrypted) {
        return QStringLiteral(
            "Over an SSH route the monitor sees a plain link: connect with tls:// and a client "
            "key the monitor marks act to close connections or block.");
    }
    if (!link.m_bEncrypted) {
        return QStringLiteral(
            "The link to this monitor is not encrypted: connect with tls:// and a client key "
            "the monitor marks act to close connections or block.");
    }
    if (!link.m_bControl) {
        return QStringLiteral(
            "This monitor only reports connections: it takes no requests to close or block.");
    }
    return {};
}

}  // namespace

void SessionControl::Connected(const MonLinkInfo& link, const MonControlAnswer& hello) {
    m_WhyNot = LinkProblem(link);
    m_Abilities = 0;
    if (!m_WhyNot.isEmpty()) return;
    m_Abilities = hello.m_Value;
    m_WhyNot = QString::fromStdString(hello.m_Text);
    if (m_WhyNot.isEmpty()) m_WhyNot = QStringLiteral("The monitor does not allow it.");
    if (!m_WhyNot.endsWith(QLatin1Char('.'))) m_WhyNot += QLatin1Char('.');
    m_WhyNot[0] = m_WhyNot[0].toUpper();
}

void SessionControl::Disconnected(const QString& why) {
    m_Abilities = 0;
    m_WhyNot = QStringLiteral("The session is not connected.");
    std::vector<Pending> ended = std::move(m_Sent);
    ended.insert(ended.end(), m_Waiting.begin(), m_Waiting.end());
    m_Sent.clear();
    m_Waiting.clear();
    for (const Pending& pending : ended) Refuse(pending, why);
}

void SessionControl::Ask(const MonControlRequest& request, Done done) {
    m_Waiting.push_back({request, std::move(done)});
}

std::vector<MonControlRequest> SessionControl::TakeWaiting() {
    std::vector<MonControlRequest> requests;
    for (const Pending& pending : m_Waiting) requests.push_back(pending.m_Request);
    m_Sent.insert(m_Sent.end(), m_Waiting.begin(), m_Waiting.end());
    m_Waiting.clear();
    return requests;
}

std::function<void()> SessionControl::Answered(std::vector<SessionWorker::Reply> replies,
                                               const QString& linkError) {
    std::vector<Pending> sent = std::move(m_Sent);
    m_Sent.clear();
    return [sent = std::move(sent), replies = std::move(replies), linkError] {
        for (size_t i = 0; i < sent.size(); ++i) {
            if (i >= replies.size()) {
                Refuse(sent[i], linkError);
            } else if (sent[i].m_Done) {
                sent[i].m_Done(replies[i]);
            }
        }
    };
}

void SessionControl::Refuse(const Pending& pending, const QString& why) {
    if (!pending.m_Done) return;
    SessionWorker::Reply reply;
    reply.m_Answer.m_Op = pending.m_Request.m_Op;
    reply.m_Answer.m_Status = MonControlStatus::Refused;
    reply.m_Answer.m_Text =
        (why.isEmpty() ? QStringLiteral("the link to the monitor ended") : why).toStdString();
    pending.m_Done(reply);
}
