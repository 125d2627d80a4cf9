#pragma once
// Acting on connections from a grid: Close Connection and the three blocks,
// for the chosen rows (or the connections of the chosen groups). Each is
// offered only where the session's monitor lets this client do it, and
// otherwise says why; each asks first, then sends its requests and tells
// what the monitor did.

#include <QString>

#include "core/view/ControlTargets.h"

class CVGLDoc;
class QMenu;
class QWidget;

namespace ConnectionActions {

enum class Action { Close, BlockUser, BlockClient, BlockDestination };

// The menu item's text ("Close Connection", "Block User...").
QString Text(Action action);
// Whether the action can run on these targets; `whyNot` says why not.
// Without targets only the session and its monitor are asked (the menu bar
// asks often, and the rows chosen may be many).
bool Allowed(const CVGLDoc* document, Action action, const ControlTargets* targets,
             QString& whyNot);
// Confirms, then asks the monitor; the outcome goes to the status bar, a
// refusal into a message as well.
void Run(CVGLDoc* document, Action action, const ControlTargets& targets, QWidget* parent);
// The four items, each disabled with its reason as tooltip where it cannot run.
void AddToMenu(QMenu* menu, CVGLDoc* document, const ControlTargets& targets, QWidget* parent);

}  // namespace ConnectionActions
