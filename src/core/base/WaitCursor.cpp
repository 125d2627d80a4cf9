#include "core/base/WaitCursor.h"

#include <utility>

namespace {

WaitCursorHandler& Handler() {
    static WaitCursorHandler handler;
    return handler;
}

}  // namespace

void SetWaitCursorHandler(WaitCursorHandler handler) { Handler() = std::move(handler); }

GWWaitCursor::GWWaitCursor() {
    if (Handler()) Handler()(true);
}

GWWaitCursor::~GWWaitCursor() {
    if (Handler()) Handler()(false);
}
