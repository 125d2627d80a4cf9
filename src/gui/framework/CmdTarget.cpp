#include "gui/framework/CmdTarget.h"

#include <utility>

void GWCmdTarget::DoCommand(int id) const {
    auto it = m_Handlers.find(id);
    if (it == m_Handlers.end()) return;
    Handler handler = it->second;  // a handler may destroy its own target
    handler();
}

void GWCmdTarget::DoUpdate(GWCmdUI& ui) const {
    auto it = m_Updaters.find(ui.m_nID);
    if (it != m_Updaters.end()) it->second(ui);
}

void GWCmdTarget::OnCommand(int id, Handler handler) { m_Handlers[id] = std::move(handler); }

void GWCmdTarget::OnUpdateCommand(int id, Updater updater) { m_Updaters[id] = std::move(updater); }

GWCmdUI GWUpdateCommand(const GWCmdRoute& route, int id) {
    GWCmdUI ui(id);
    for (GWCmdTarget* target : route) {
        if (target && target->UpdatesCommand(id)) {
            ui.Enable(true);  // an updater that says nothing leaves the command enabled
            target->DoUpdate(ui);
            return ui;
        }
    }
    for (GWCmdTarget* target : route) {
        if (target && target->HandlesCommand(id)) {
            ui.Enable(true);
            break;
        }
    }
    return ui;
}

bool GWRouteCommand(const GWCmdRoute& route, int id) {
    if (!GWUpdateCommand(route, id).m_bEnabled) return false;
    for (GWCmdTarget* target : route) {
        if (target && target->HandlesCommand(id)) {
            target->DoCommand(id);
            return true;
        }
    }
    return false;
}
