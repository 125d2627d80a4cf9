#pragma once
// Demo and test aid (vgl --screenshot FILE --screenshot-of connection-menu,
// close-confirm, block-confirm or blocks): once the sessions have polled, the first one's
// grid chooses its first rows and shows what acting on them looks like:
// the grid with its context menu open, the confirmation of a user block, or
// the Blocks window. The picture is then taken after one more poll, which
// brings the monitor's answers.

#include <QString>

class CVGLDoc;
class QWidget;

namespace ControlScreenshots {

bool Handles(const QString& which);
// The widget to picture; null when the session has no grid.
QWidget* Stage(const QString& which, CVGLDoc& document, QWidget* mainFrame);

}  // namespace ControlScreenshots
