#pragma once
// The system timer of the running program: each created timer is a QTimer
// that calls GWTimer::TimerProc with its id once per interval, on the
// user-interface thread (also inside modal loops).

#include <QObject>
#include <map>

#include "core/base/GWTimer.h"

class QTimer;

class QtSystemTimer : public QObject, public SystemTimer {
    Q_OBJECT
public:
    explicit QtSystemTimer(QObject* parent = nullptr);
    ~QtSystemTimer() override;

    int32_t Create(uint32_t intervalMs) override;
    void Kill(int32_t id) override;

private:
    std::map<int32_t, QTimer*> m_Timers;
    int32_t m_NextId = 1;
};
