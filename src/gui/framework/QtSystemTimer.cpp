#include "gui/framework/QtSystemTimer.h"

#include <QTimer>

QtSystemTimer::QtSystemTimer(QObject* parent) : QObject(parent) {}

QtSystemTimer::~QtSystemTimer() {
    for (auto& [id, timer] : m_Timers) delete timer;
}

int32_t QtSystemTimer::Create(uint32_t intervalMs) {
    const int32_t id = m_NextId++;
    auto* timer = new QTimer(this);
    timer->setTimerType(Qt::CoarseTimer);
    connect(timer, &QTimer::timeout, this, [id] { GWTimer::TimerProc(id); });
    timer->start(static_cast<int>(intervalMs));
    m_Timers[id] = timer;
    return id;
}

void QtSystemTimer::Kill(int32_t id) {
    auto it = m_Timers.find(id);
    if (it == m_Timers.end()) return;
    it->second->stop();
    it->second->deleteLater();  // Kill may run inside this timer's own timeout
    m_Timers.erase(it);
}
