#pragma once
// The error output of a child process, read on a thread of its own for as
// long as the child writes: a child whose pipe is never read blocks once the
// pipe is full (ssh writes a line for every forwarded connection that fails).
// The last few kilobytes are kept for the messages made from them.

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class MonStderrTail {
public:
    MonStderrTail() = default;
    ~MonStderrTail();  // stops reading and closes the pipe
    MonStderrTail(const MonStderrTail&) = delete;
    MonStderrTail& operator=(const MonStderrTail&) = delete;

    // Takes the read end of the child's stderr pipe. False with the reason
    // when no thread can be started (the descriptor is then closed).
    bool Start(int readFd, std::string& error);
    // Stops reading, whether or not the child has closed its end.
    void Stop();

    // Waits at most `timeoutMs` for the child's end of the pipe to close (all
    // that was written is then kept). False when it is still open.
    bool WaitForEnd(int timeoutMs);
    // The last line with anything but blanks in it; empty if none.
    std::string LastLine() const;
    bool Contains(const std::string& text) const;

private:
    void Run();
    void Append(const char* data, size_t size);

    int m_ReadFd = -1;
    int m_WakeFd = -1;
    std::thread m_Thread;
    mutable std::mutex m_Mutex;
    std::condition_variable m_Ended;
    std::string m_Text;
    bool m_bEnded = false;
};
