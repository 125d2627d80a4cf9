#pragma once
// A session's network steps run on its worker and come back as posted
// events; tests run the event loop until the session has nothing in flight.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "gui/session/CVGLDoc.h"

// Runs the event loop until `done` holds; false if that takes longer than timeoutMs.
// Posted events are sent as well: waiting inside the delivery of one (a
// message box hook called while a worker's result is applied), the event
// loop would leave those posted before it until something new is posted.
template <typename Condition>
bool RunEventsUntil(Condition done, int timeoutMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QThread::msleep(1);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    return true;
}

// True once nothing is in flight (every result applied, and whatever those
// started finished too).
inline bool SettleSession(const CVGLDoc* document, int timeoutMs = 20000) {
    return RunEventsUntil([document] { return !document || !document->IsBusy(); }, timeoutMs);
}
