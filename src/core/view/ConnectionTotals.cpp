#include "core/view/ConnectionTotals.h"

#include "core/table/EntryObj.h"

void ConnectionTotals::Add(const EntryObj& entry) {
    ++m_Connections;
    if (entry.m_Status == 0) ++m_Active;
    if (entry.m_Status == 1) ++m_Failed;
    m_BytesIn += entry.m_TotalIn;
    m_BytesOut += entry.m_TotalOut;
    if (entry.HasRate()) {
        if (m_RateIn < 0) m_RateIn = m_RateOut = 0;
        m_RateIn += entry.m_RateIn;
        m_RateOut += entry.m_RateOut;
    }
}

void ConnectionTotals::Add(const ConnectionTotals& other) {
    m_Connections += other.m_Connections;
    m_Active += other.m_Active;
    m_Failed += other.m_Failed;
    m_BytesIn += other.m_BytesIn;
    m_BytesOut += other.m_BytesOut;
    if (other.m_RateIn >= 0) {
        if (m_RateIn < 0) m_RateIn = m_RateOut = 0;
        m_RateIn += other.m_RateIn;
        m_RateOut += other.m_RateOut;
    }
}
