#pragma once
// A TCP socket listening on 127.0.0.1 (or another loopback address) on a
// port the system picks, closed with the object: the monitor end of a test
// or benchmark that serves connections itself.

#include <cstdint>

class LoopbackListener {
public:
    // `ipv4`: the address in dotted form; null for 127.0.0.1.
    explicit LoopbackListener(int backlog, const char* ipv4 = nullptr);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int Fd() const { return m_Fd; }
    uint16_t Port() const { return m_Port; }  // 0 when it could not listen
    // Makes an accept() waiting on it return with an error, so that its thread can end.
    void Shutdown() const;

private:
    int m_Fd = -1;
    uint16_t m_Port = 0;
};
