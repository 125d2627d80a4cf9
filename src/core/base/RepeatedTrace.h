#pragma once
// A trace line that would be written once for each record of a batch (a
// hostile monitor sends millions), counted instead and written once, with
// its count, when the batch is done: "Buffer full (3 records) in ...".

#include <cstddef>

class RepeatedTrace {
public:
    explicit RepeatedTrace(const char* message) : m_Message(message) {}
    // Counts one more; the first names the place the line will give.
    void Count(const char* file, int line);
    // Writes the line when anything was counted, and starts again from 0.
    void Flush();
    size_t Counted() const { return m_Count; }

private:
    const char* m_Message;
    const char* m_File = "";
    int m_Line = 0;
    size_t m_Count = 0;
};

#define GW_TRACE_REPEATED(trace) (trace).Count(__FILE__, __LINE__)
