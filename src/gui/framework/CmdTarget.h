#pragma once
// Commands by number. Each class declares the commands it handles and how it
// enables and checks them; a command travels along a route (the active view,
// its document, the frames, the application) and the first target that
// declares it decides. Menus, accelerators and keyboard-only commands all go
// through the same two functions, so they all follow one rule.

#include <QString>
#include <functional>
#include <map>
#include <vector>

class GWCmdUI {
public:
    explicit GWCmdUI(int id) : m_nID(id) {}
    void Enable(bool on = true) { m_bEnabled = on; }
    void SetCheck(bool on = true) { m_bChecked = on; }
    // Why a command is disabled, for its menu item's tooltip.
    void SetToolTip(const QString& text) { m_ToolTip = text; }

    int m_nID;
    bool m_bEnabled = false;
    bool m_bChecked = false;
    QString m_ToolTip;
};

class GWCmdTarget {
public:
    using Handler = std::function<void()>;
    using Updater = std::function<void(GWCmdUI&)>;

    virtual ~GWCmdTarget() = default;

    bool HandlesCommand(int id) const { return m_Handlers.count(id) != 0; }
    bool UpdatesCommand(int id) const { return m_Updaters.count(id) != 0; }
    void DoCommand(int id) const;
    void DoUpdate(GWCmdUI& ui) const;

protected:
    void OnCommand(int id, Handler handler);
    void OnUpdateCommand(int id, Updater updater);

private:
    std::map<int, Handler> m_Handlers;
    std::map<int, Updater> m_Updaters;
};

using GWCmdRoute = std::vector<GWCmdTarget*>;  // nulls are skipped

// The state of a command along a route: the first target that declares an
// updater decides; without one, a command that some target handles is
// enabled and one that none handles is disabled.
GWCmdUI GWUpdateCommand(const GWCmdRoute& route, int id);

// Carries out a command: nothing happens when it is disabled; otherwise the
// first target that handles it does. Returns true when it was carried out.
bool GWRouteCommand(const GWCmdRoute& route, int id);
