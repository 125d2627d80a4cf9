#include "support/FakeMonitor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <stdexcept>
#include <utility>

namespace {

constexpr int BindAttempts = 200;
constexpr int BytewisePauseMs = 1;

int PollRetry(pollfd* fds, nfds_t count, int timeoutMs) {
    for (;;) {
        int ready = ::poll(fds, count, timeoutMs);
        if (ready >= 0 || errno != EINTR) {
            return ready;
        }
    }
}

}  // namespace

FakeStep FakeStep::Send(MonBytes bytes) {
    return {Action::Send, std::move(bytes)};
}
FakeStep FakeStep::SendBytewise(MonBytes bytes) {
    return {Action::SendBytewise, std::move(bytes)};
}
FakeStep FakeStep::Close() {
    return {Action::Close, {}};
}
FakeStep FakeStep::Reset() {
    return {Action::Reset, {}};
}
FakeStep FakeStep::Stall() {
    return {Action::Stall, {}};
}

FakeMonitor::FakeMonitor(Loopback where) : m_DefaultReply{FakeStep::Send({0x00, 0x00})} {
    m_WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_WakeFd < 0) {
        throw std::runtime_error(std::string("FakeMonitor: eventfd: ") + std::strerror(errno));
    }
    try {
        if (where == Loopback::Ipv6) {
            BindIpv6();
        } else {
            Bind();
        }
    } catch (...) {
        ::close(m_WakeFd);
        throw;
    }
    m_Thread = std::thread([this] { Run(); });
}

FakeMonitor::~FakeMonitor() {
    {
        std::lock_guard lock(m_Mutex);
        m_bStop = true;
    }
    Wake();
    m_Thread.join();
    if (m_ClientFd >= 0) {
        ::close(m_ClientFd);
    }
    ::close(m_ListenFd);
    ::close(m_WakeFd);
}

void FakeMonitor::Bind() {
    std::random_device device;
    std::mt19937 random(device() ^ static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < BindAttempts; ++attempt) {
        const uint32_t b = random() % 256, c = 1 + random() % 254, d = 1 + random() % 254;
        if (b == 0 && c == 0 && d == 1) {
            continue;  // 127.0.0.1:5051 belongs to a real or demo monitor
        }
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            throw std::runtime_error(std::string("FakeMonitor: socket: ") + std::strerror(errno));
        }
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(Port);
        addr.sin_addr.s_addr = htonl((127u << 24) | (b << 16) | (c << 8) | d);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::listen(fd, 16) == 0) {
            m_ListenFd = fd;
            m_Host = "127." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
            return;
        }
        ::close(fd);
    }
    throw std::runtime_error("FakeMonitor: no free loopback address for port 5051");
}

void FakeMonitor::BindIpv6() {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    socklen_t size = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 16) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        const std::string reason = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("FakeMonitor: cannot listen on ::1: " + reason);
    }
    m_ListenFd = fd;
    m_Host = "::1";
    m_ListenPort = ntohs(addr.sin6_port);
}

void FakeMonitor::QueueBatch(const std::vector<MonBytes>& bodies) {
    QueueReply({FakeStep::Send(FrameBatch(bodies))});
}

void FakeMonitor::QueueRaw(MonBytes bytes) {
    QueueReply({FakeStep::Send(std::move(bytes))});
}

void FakeMonitor::QueueReply(FakeReply steps) {
    std::lock_guard lock(m_Mutex);
    m_Replies.push_back(std::move(steps));
}

void FakeMonitor::SetDefaultReply(FakeReply steps) {
    std::lock_guard lock(m_Mutex);
    m_DefaultReply = std::move(steps);
}

void FakeMonitor::Resume() {
    {
        std::lock_guard lock(m_Mutex);
        ++m_Resumes;
    }
    Wake();
}

void FakeMonitor::CloseClient(bool abortive) {
    size_t target;
    {
        std::lock_guard lock(m_Mutex);
        m_bAbortiveClose = abortive;
        target = ++m_CloseRequests;
    }
    Wake();
    WaitFor([&] { return m_ClosesDone >= target || m_bStop; }, 10000);
}

size_t FakeMonitor::RequestCount() const {
    std::lock_guard lock(m_Mutex);
    return m_Requests.size();
}

std::vector<MonBytes> FakeMonitor::Requests() const {
    std::lock_guard lock(m_Mutex);
    return m_Requests;
}

MonBytes FakeMonitor::Received() const {
    std::lock_guard lock(m_Mutex);
    return m_Received;
}

size_t FakeMonitor::ConnectionCount() const {
    std::lock_guard lock(m_Mutex);
    return m_Connections;
}

size_t FakeMonitor::DisconnectCount() const {
    std::lock_guard lock(m_Mutex);
    return m_Disconnects;
}

size_t FakeMonitor::PendingReplies() const {
    std::lock_guard lock(m_Mutex);
    return m_Replies.size();
}

bool FakeMonitor::WaitForRequests(size_t count, int timeoutMs) const {
    return WaitFor([&] { return m_Requests.size() >= count; }, timeoutMs);
}

bool FakeMonitor::WaitForConnections(size_t count, int timeoutMs) const {
    return WaitFor([&] { return m_Connections >= count; }, timeoutMs);
}

bool FakeMonitor::WaitForDisconnects(size_t count, int timeoutMs) const {
    return WaitFor([&] { return m_Disconnects >= count; }, timeoutMs);
}

template <typename Pred>
bool FakeMonitor::WaitFor(Pred pred, int timeoutMs) const {
    std::unique_lock lock(m_Mutex);
    return m_Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
}

void FakeMonitor::Wake() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(m_WakeFd, &one, sizeof one);
}

// Waits up to timeoutMs for a wake-up, then carries out what the test asked
// for. False when the thread must stop or the client is gone.
bool FakeMonitor::WaitWake(int timeoutMs) {
    pollfd fd{m_WakeFd, POLLIN, 0};
    if (PollRetry(&fd, 1, timeoutMs) > 0) {
        uint64_t count;
        [[maybe_unused]] ssize_t got = ::read(m_WakeFd, &count, sizeof count);
    }
    return HandleCommands() && m_ClientFd >= 0;
}

// False when the thread must stop.
bool FakeMonitor::HandleCommands() {
    size_t requested;
    bool abortive;
    {
        std::lock_guard lock(m_Mutex);
        if (m_bStop) {
            return false;
        }
        requested = m_CloseRequests;
        abortive = m_bAbortiveClose;
        if (requested == m_ClosesDone) {
            return true;
        }
    }
    if (m_ClientFd < 0) {
        AcceptClient();
    }
    if (m_ClientFd >= 0) {
        DropClient(abortive);
    }
    std::lock_guard lock(m_Mutex);
    m_ClosesDone = requested;
    m_Changed.notify_all();
    return true;
}

void FakeMonitor::Run() {
    while (HandleCommands()) {
        pollfd fds[2] = {{m_WakeFd, POLLIN, 0},
                         {m_ClientFd >= 0 ? m_ClientFd : m_ListenFd, POLLIN, 0}};
        if (PollRetry(fds, 2, -1) < 0) {
            return;
        }
        if (fds[0].revents) {
            uint64_t count;
            [[maybe_unused]] ssize_t got = ::read(m_WakeFd, &count, sizeof count);
        }
        if (fds[1].revents == 0) {
            continue;
        }
        if (m_ClientFd < 0) {
            AcceptClient();
        } else if (ReadFromClient()) {
            AnswerFrames();
        }
    }
}

bool FakeMonitor::AcceptClient() {
    int fd = ::accept4(m_ListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_ClientFd = fd;
    m_Incoming.clear();
    std::lock_guard lock(m_Mutex);
    ++m_Connections;
    m_Changed.notify_all();
    return true;
}

void FakeMonitor::DropClient(bool abortive) {
    if (m_ClientFd < 0) {
        return;
    }
    // Unread input would turn an orderly close into a reset; keep it as received.
    uint8_t buffer[4096];
    ssize_t got;
    while ((got = ::recv(m_ClientFd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
        std::lock_guard lock(m_Mutex);
        m_Received.insert(m_Received.end(), buffer, buffer + got);
    }
    if (abortive) {
        linger hard{1, 0};
        ::setsockopt(m_ClientFd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else {
        ::shutdown(m_ClientFd, SHUT_WR);
    }
    ::close(m_ClientFd);
    m_ClientFd = -1;
    m_Incoming.clear();
    std::lock_guard lock(m_Mutex);
    ++m_Disconnects;
    m_Changed.notify_all();
}

// False when the client connection has ended.
bool FakeMonitor::ReadFromClient() {
    uint8_t buffer[4096];
    ssize_t got = ::recv(m_ClientFd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return true;
    }
    if (got <= 0) {
        DropClient(false);
        return false;
    }
    m_Incoming.insert(m_Incoming.end(), buffer, buffer + got);
    std::lock_guard lock(m_Mutex);
    m_Received.insert(m_Received.end(), buffer, buffer + got);
    return true;
}

// Each complete frame from the client is one request; it is logged before the
// reply goes out, so a client that has read the reply sees it counted.
void FakeMonitor::AnswerFrames() {
    while (m_ClientFd >= 0 && m_Incoming.size() >= 2) {
        const size_t size = 2 + ((size_t{m_Incoming[0]} << 8) | m_Incoming[1]);
        if (m_Incoming.size() < size) {
            return;
        }
        MonBytes frame(m_Incoming.begin(), m_Incoming.begin() + static_cast<ptrdiff_t>(size));
        m_Incoming.erase(m_Incoming.begin(), m_Incoming.begin() + static_cast<ptrdiff_t>(size));
        FakeReply reply;
        {
            std::lock_guard lock(m_Mutex);
            m_Requests.push_back(std::move(frame));
            if (m_Replies.empty()) {
                reply = m_DefaultReply;
            } else {
                reply = std::move(m_Replies.front());
                m_Replies.pop_front();
            }
            m_Changed.notify_all();
        }
        Execute(reply);
    }
}

// False when the reply was cut short (client gone, or stopping).
bool FakeMonitor::Execute(const FakeReply& reply) {
    for (const FakeStep& step : reply) {
        switch (step.m_Action) {
            case FakeStep::Action::Send:
                if (!SendAll(step.m_Bytes.data(), step.m_Bytes.size())) {
                    return false;
                }
                break;
            case FakeStep::Action::SendBytewise:
                for (size_t i = 0; i < step.m_Bytes.size(); ++i) {
                    if (!SendAll(&step.m_Bytes[i], 1) || !WaitWake(BytewisePauseMs)) {
                        return false;
                    }
                }
                break;
            case FakeStep::Action::Close:
                DropClient(false);
                return false;
            case FakeStep::Action::Reset:
                DropClient(true);
                return false;
            case FakeStep::Action::Stall:
                if (!Stall()) {
                    return false;
                }
                break;
        }
    }
    return true;
}

bool FakeMonitor::Stall() {
    for (;;) {
        {
            std::lock_guard lock(m_Mutex);
            if (m_bStop) {
                return false;
            }
            if (m_Resumes > 0) {
                --m_Resumes;
                return true;
            }
        }
        if (!WaitWake(-1)) {
            return false;
        }
    }
}

bool FakeMonitor::SendAll(const uint8_t* data, size_t size) {
    while (size > 0) {
        if (m_ClientFd < 0) {
            return false;
        }
        ssize_t sent = ::send(m_ClientFd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            data += sent;
            size -= static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            DropClient(false);
            return false;
        }
        pollfd fds[2] = {{m_WakeFd, POLLIN, 0}, {m_ClientFd, POLLOUT, 0}};
        PollRetry(fds, 2, -1);
        if (fds[0].revents && !WaitWake(0)) {
            return false;
        }
    }
    return true;
}
