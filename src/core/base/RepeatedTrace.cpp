#include "core/base/RepeatedTrace.h"

#include <string>

#include "core/base/Trace.h"

void RepeatedTrace::Count(const char* file, int line) {
    if (m_Count++ == 0) {
        m_File = file;
        m_Line = line;
    }
}

void RepeatedTrace::Flush() {
    if (m_Count == 0) return;
    const std::string text = std::string(m_Message) + " (" + std::to_string(m_Count) +
                             (m_Count == 1 ? " record)" : " records)");
    GWTrace(text.c_str(), m_File, m_Line);
    m_Count = 0;
}
