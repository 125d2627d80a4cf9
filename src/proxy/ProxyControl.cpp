#include "ProxyControl.h"

#include <ctime>

#include "BlockStateFile.h"

namespace {

uint64_t Now() {
    return static_cast<uint64_t>(std::time(nullptr));
}

std::string CallerName(const ControlCaller& caller) {
    return caller.m_Name.empty() ? caller.m_Fingerprint : caller.m_Name;
}

// In the largest unit that says it exactly: "90 s", "5 min", "1 h", "2 d".
std::string DurationText(uint32_t seconds) {
    if (seconds % 86400 == 0) return std::to_string(seconds / 86400) + " d";
    if (seconds % 3600 == 0) return std::to_string(seconds / 3600) + " h";
    if (seconds % 60 == 0) return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds) + " s";
}

std::string Plural(uint32_t count, const std::string& what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

}  // namespace

ProxyControl::ProxyControl(ProxyContext& context, uint32_t idHigh, std::string blocksPath)
    : m_Context(context), m_IdHigh(idHigh), m_BlocksPath(std::move(blocksPath)) {}

bool ProxyControl::Load(std::string& error) {
    if (m_BlocksPath.empty()) return true;
    BlockState state;
    if (!LoadBlockState(m_BlocksPath, Now(), state, error)) return false;
    m_Context.m_Blocks.Restore(std::move(state.m_Blocks), state.m_NextId);
    return true;
}

uint32_t ProxyControl::Abilities(std::string& /*whyNot*/) const {
    return MonMayClose | MonMayBlock;
}

MonControlAnswer ProxyControl::Answer(MonControlOp op, MonControlStatus status, std::string text,
                                      uint32_t value, uint32_t closed) const {
    MonControlAnswer answer;
    answer.m_Op = op;
    answer.m_Status = status;
    answer.m_Value = value;
    answer.m_Closed = closed;
    answer.m_Text = std::move(text);
    return answer;
}

// The hub's ids start from the start time: a connection of an earlier run
// of the proxy has another high word, and is no connection of this one.
MonControlAnswer ProxyControl::Close(const ControlCaller& caller, uint32_t idHigh, uint32_t idLow) {
    const std::string id = std::to_string(idHigh) + ":" + std::to_string(idLow);
    if (idHigh != m_IdHigh || !m_Context.m_Sessions.Close(idLow, "closed by " + CallerName(caller)))
        return Answer(MonControlOp::Close, MonControlStatus::Refused, "no open connection " + id);
    return Answer(MonControlOp::Close, MonControlStatus::Done, "connection " + id + " closed", 0,
                  1);
}

MonControlAnswer ProxyControl::Block(const ControlCaller& caller,
                                     const MonControlRequest& request) {
    // The monitor's desk has checked the value already (MonBlockValueProblem).
    MonBlock block;
    block.m_What = request.m_What;
    block.m_Value = request.m_Value;
    block.m_ByName = caller.m_Name;
    block.m_ByFingerprint = caller.m_Fingerprint;
    block.m_Since = Now();
    block.m_Until = request.m_Seconds == 0 ? 0 : block.m_Since + request.m_Seconds;
    block.m_Note = request.m_Note;
    std::unique_lock lock(m_Mutex);
    block.m_Id = m_Context.m_Blocks.Add(block);
    std::string error;
    if (!Save(error)) {
        m_Context.m_Blocks.Lift(block.m_Id);
        return Answer(MonControlOp::Block, MonControlStatus::Refused,
                      "the block could not be kept: " + error);
    }
    lock.unlock();
    uint32_t closed = 0;
    if (request.m_bCloseOpen) {
        closed = static_cast<uint32_t>(m_Context.m_Sessions.CloseCovered(
            [&block](const SessionFacts& facts) { return BlockList::Covers(block, facts); },
            BlockedText(block)));
    }
    std::string text =
        MonBlockText(block.m_What, block.m_Value) + " blocked " + Lasting(request.m_Seconds);
    if (request.m_bCloseOpen) text += "; " + Plural(closed, "open connection") + " closed";
    return Answer(MonControlOp::Block, MonControlStatus::Done, text, block.m_Id, closed);
}

std::string ProxyControl::Lasting(uint32_t seconds) const {
    const std::string lasting = seconds == 0 ? "until lifted" : "for " + DurationText(seconds);
    if (!m_BlocksPath.empty()) return lasting;
    return lasting + (seconds == 0 ? " or " : ", or at most ") +
           "until vgl-proxy stops (no --blocks-file)";
}

MonControlAnswer ProxyControl::Lift(const ControlCaller& /*caller*/, uint32_t blockId) {
    const std::string name = "block " + std::to_string(blockId);
    std::lock_guard lock(m_Mutex);
    if (!m_Context.m_Blocks.Lift(blockId))
        return Answer(MonControlOp::Lift, MonControlStatus::Refused, "no " + name);
    std::string error;
    if (!Save(error)) {
        return Answer(MonControlOp::Lift, MonControlStatus::Done,
                      name + " lifted until vgl-proxy restarts: " + error, blockId);
    }
    return Answer(MonControlOp::Lift, MonControlStatus::Done, name + " lifted", blockId);
}

std::vector<MonBlock> ProxyControl::Blocks() const {
    return m_Context.m_Blocks.InForce(Now());
}

void ProxyControl::Answered(MonControlOp op, MonControlStatus status) {
    m_Context.m_Metrics.Controlled(op, status);
}

bool ProxyControl::Save(std::string& error) const {
    if (m_BlocksPath.empty()) return true;
    return SaveBlockState(m_BlocksPath,
                          {m_Context.m_Blocks.InForce(Now()), m_Context.m_Blocks.NextId()}, error);
}
