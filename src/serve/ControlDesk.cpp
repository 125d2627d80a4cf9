#include "ControlDesk.h"

namespace {

MonControlAnswer Refusal(MonControlOp op, std::string text) {
    MonControlAnswer answer;
    answer.m_Op = op;
    answer.m_Status = MonControlStatus::Refused;
    answer.m_Text = std::move(text);
    return answer;
}

std::string Duration(uint32_t seconds) {
    return seconds == 0 ? "until lifted" : "for " + std::to_string(seconds) + " s";
}

// What the request asks for, as the audit line says it; values from the
// client are quoted.
std::string ActionText(const MonControlRequest& request) {
    switch (request.m_Op) {
        case MonControlOp::Close:
            return "close " + std::to_string(request.m_IdHigh) + ":" +
                   std::to_string(request.m_IdLow);
        case MonControlOp::Block:
            return std::string("block ") + MonBlockWhatName(request.m_What) + " " +
                   ServerLog::Quote(request.m_Value) + " " + Duration(request.m_Seconds) +
                   (request.m_bCloseOpen ? ", closing its open connections" : "") +
                   (request.m_Note.empty() ? "" : ", note " + ServerLog::Quote(request.m_Note));
        case MonControlOp::Lift:
            return "lift block " + std::to_string(request.m_BlockId);
        default:
            return {};
    }
}

}  // namespace

ControlDesk::ControlDesk(MonitorControl* control, const ServerLog& log, const MonTlsPeer& peer,
                         std::string endpoint)
    : m_pControl(control), m_Log(log), m_Peer(peer) {
    m_Caller.m_Name = peer.m_Name.empty() ? peer.m_Fingerprint : peer.m_Name;
    m_Caller.m_Fingerprint = peer.m_Fingerprint;
    m_Caller.m_Endpoint = std::move(endpoint);
}

bool ControlDesk::Answer(const uint8_t* body, size_t length, MonBytes& framed) {
    MonControlRequest request;
    if (!DecodeControlRequest(body, length, request)) return false;
    framed.clear();
    const MonControlAnswer answer = Act(request, framed);
    AppendFrame(framed, EncodeControlAnswer(answer));
    if (m_pControl && request.m_Op != MonControlOp::Hello) {
        m_pControl->Answered(request.m_Op, answer.m_Status);
    }
    Audit(request, answer);
    return true;
}

std::string ControlDesk::Forbidden() const {
    if (m_pControl == nullptr) return "this server takes no control requests";
    if (!m_Peer.m_bMayAct) {
        return "the client key " + m_Caller.m_Name +
               " is not marked act in the monitor's clients file";
    }
    return {};
}

MonControlAnswer ControlDesk::Hello() const {
    MonControlAnswer answer;
    answer.m_Op = MonControlOp::Hello;
    answer.m_Status = MonControlStatus::Done;
    answer.m_Text = Forbidden();
    if (answer.m_Text.empty()) answer.m_Value = m_pControl->Abilities(answer.m_Text);
    return answer;
}

MonControlAnswer ControlDesk::Act(const MonControlRequest& request, MonBytes& framed) {
    if (request.m_Op == MonControlOp::Hello) return Hello();
    if (const std::string why = Forbidden(); !why.empty()) return Refusal(request.m_Op, why);
    switch (request.m_Op) {
        case MonControlOp::Close:
            return m_pControl->Close(m_Caller, request.m_IdHigh, request.m_IdLow);
        case MonControlOp::Block:
            if (const std::string problem = MonBlockValueProblem(request.m_What, request.m_Value);
                !problem.empty()) {
                return Refusal(request.m_Op, problem);
            }
            return m_pControl->Block(m_Caller, request);
        case MonControlOp::Lift:
            return m_pControl->Lift(m_Caller, request.m_BlockId);
        default: {
            const std::vector<MonBlock> blocks = m_pControl->Blocks();
            for (const MonBlock& block : blocks) AppendFrame(framed, EncodeBlock(block));
            MonControlAnswer answer;
            answer.m_Op = request.m_Op;
            answer.m_Status = MonControlStatus::Done;
            answer.m_Value = static_cast<uint32_t>(blocks.size());
            return answer;
        }
    }
}

// Questions (what may I do, which blocks are there) change nothing and are
// not audited; every action is, refused or done.
void ControlDesk::Audit(const MonControlRequest& request, const MonControlAnswer& answer) const {
    const std::string action = ActionText(request);
    if (action.empty()) return;
    const bool done = answer.m_Status == MonControlStatus::Done;
    m_Log.Audit({m_Caller.m_Name, m_Caller.m_Fingerprint, m_Caller.m_Endpoint, action,
                 std::string(done ? "done" : "refused") +
                     (answer.m_Text.empty() ? "" : ": " + ServerLog::Quote(answer.m_Text))});
}
