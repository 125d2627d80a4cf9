#pragma once
// Frames in the command route. A document frame knows its active view; the
// main frame knows the active document frame and shows prompts.

#include <QString>

#include "gui/framework/CmdTarget.h"

class GWDocument;
class GWView;

class GWFrame : public GWCmdTarget {
public:
    virtual GWView* GetActiveView() const = 0;
};

class GWMainFrame : public GWFrame {
public:
    virtual GWFrame* GetActiveChildFrame() const = 0;
    GWView* GetActiveView() const override {
        GWFrame* child = GetActiveChildFrame();
        return child ? child->GetActiveView() : nullptr;
    }
    // Brings the enabled and checked state of menus and actions up to date.
    virtual void UpdateCommandStates() {}
};
