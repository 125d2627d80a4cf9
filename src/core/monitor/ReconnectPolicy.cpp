#include "core/monitor/ReconnectPolicy.h"

#include <algorithm>

int ReconnectPolicy::NextDelay(int updatePeriodSeconds) {
    const int ceiling = std::max(updatePeriodSeconds, FirstDelaySeconds);
    m_DelaySeconds = m_DelaySeconds == 0 ? FirstDelaySeconds : std::min(m_DelaySeconds * 2, ceiling);
    m_DelaySeconds = std::min(m_DelaySeconds, ceiling);
    return m_DelaySeconds;
}
