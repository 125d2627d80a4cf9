#pragma once
// An application object with the application-wide timer that the program's
// own keeps, so that sessions can be tested without the program.

#include "core/base/GWTimer.h"
#include "gui/framework/GWApp.h"

class TimerApp : public GWApp {
public:
    GWTimer* GetTimer() override { return &m_Timer; }

    GWTimer m_Timer;
};
