#pragma once
// The wait cursor of long, blocking operations. The core only says when such
// an operation starts and ends; the GUI installs a handler that shows Qt's
// wait cursor, and tests install one that counts.

#include <functional>

using WaitCursorHandler = std::function<void(bool waiting)>;
void SetWaitCursorHandler(WaitCursorHandler handler);

// Shows the wait cursor for the lifetime of the object.
class GWWaitCursor {
public:
    GWWaitCursor();
    ~GWWaitCursor();
    GWWaitCursor(const GWWaitCursor&) = delete;
    GWWaitCursor& operator=(const GWWaitCursor&) = delete;
};
