#include "MonitorControl.h"

namespace {

MonControlAnswer NoBlocks(MonControlOp op) {
    MonControlAnswer answer;
    answer.m_Op = op;
    answer.m_Text = "this monitor does not block";
    return answer;
}

}  // namespace

MonControlAnswer MonitorControl::Block(const ControlCaller&, const MonControlRequest&) {
    return NoBlocks(MonControlOp::Block);
}

MonControlAnswer MonitorControl::Lift(const ControlCaller&, uint32_t) {
    return NoBlocks(MonControlOp::Lift);
}
