#include "core/monitor/MonStderrTail.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

namespace {

// Enough for the last lines of any error ssh gives; older output goes.
constexpr size_t KeptBytes = 8192;

bool IsBlank(const std::string& line) {
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

}  // namespace

MonStderrTail::~MonStderrTail() {
    Stop();
}

bool MonStderrTail::Start(int readFd, std::string& error) {
    Stop();
    m_ReadFd = readFd;
    m_WakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (m_WakeFd < 0) {
        error = std::string("cannot read ssh's error output: ") + std::strerror(errno);
        Stop();
        return false;
    }
    m_Text.clear();
    m_bEnded = false;
    try {
        m_Thread = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
        error = std::string("cannot read ssh's error output: ") + e.what();
        Stop();
        return false;
    }
    return true;
}

void MonStderrTail::Stop() {
    if (m_Thread.joinable()) {
        const uint64_t one = 1;
        // An eventfd write of 8 bytes cannot fail short; the thread then wakes.
        [[maybe_unused]] ssize_t written = ::write(m_WakeFd, &one, sizeof one);
        m_Thread.join();
    }
    for (int* fd : {&m_ReadFd, &m_WakeFd}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

bool MonStderrTail::WaitForEnd(int timeoutMs) {
    std::unique_lock lock(m_Mutex);
    return m_Ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return m_bEnded; });
}

std::string MonStderrTail::LastLine() const {
    std::lock_guard lock(m_Mutex);
    size_t end = m_Text.size();
    while (end > 0) {
        const size_t newline = m_Text.rfind('\n', end - 1);
        const size_t begin = newline == std::string::npos ? 0 : newline + 1;
        std::string line = m_Text.substr(begin, end - begin);
        if (!IsBlank(line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
                line.pop_back();
            }
            return line;
        }
        end = newline == std::string::npos ? 0 : newline;
    }
    return {};
}

bool MonStderrTail::Contains(const std::string& text) const {
    std::lock_guard lock(m_Mutex);
    return m_Text.find(text) != std::string::npos;
}

void MonStderrTail::Run() {
    pollfd fds[2] = {{m_ReadFd, POLLIN, 0}, {m_WakeFd, POLLIN, 0}};
    char buffer[1024];
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            return;
        }
        const ssize_t got = ::read(m_ReadFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        Append(buffer, static_cast<size_t>(got));
    }
    std::lock_guard lock(m_Mutex);
    m_bEnded = true;
    m_Ended.notify_all();
}

void MonStderrTail::Append(const char* data, size_t size) {
    std::lock_guard lock(m_Mutex);
    m_Text.append(data, size);
    if (m_Text.size() > KeptBytes) {
        m_Text.erase(0, m_Text.size() - KeptBytes);
    }
}
