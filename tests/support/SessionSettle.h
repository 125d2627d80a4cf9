#pragma once
// A session's network steps run on its worker and come back as posted
// events; tests run the event loop until the session has nothing in flight.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "link/CVGLDoc.h"

// True once nothing is in flight (every result applied, and whatever those
// started finished too); false if that takes longer than timeoutMs.
inline bool SettleSession(const CVGLDoc* document, int timeoutMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    QCoreApplication::processEvents();
    while (document && document->IsBusy()) {
        if (clock.elapsed() > timeoutMs) return false;
        QThread::msleep(1);
        QCoreApplication::processEvents();
    }
    return true;
}
