#include "JournalFollower.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace {

// The value of `"key":` in one flat JSON object: a string (escapes read,
// \u00NN as that byte, others as UTF-8) or an array of byte numbers, which
// journalctl writes for a message that is not valid UTF-8.
bool JsonValue(std::string_view json, std::string_view key, std::string& value) {
    const std::string quoted = "\"" + std::string(key) + "\":";
    const size_t at = json.find(quoted);
    if (at == std::string_view::npos) return false;
    size_t i = at + quoted.size();
    value.clear();
    if (i < json.size() && json[i] == '[') {
        for (++i; i < json.size() && json[i] != ']'; ++i) {
            if (json[i] < '0' || json[i] > '9') continue;
            unsigned byte = 0;
            while (i < json.size() && json[i] >= '0' && json[i] <= '9')
                byte = byte * 10 + (json[i++] - '0');
            value.push_back(static_cast<char>(byte));
            --i;
        }
        return true;
    }
    if (i >= json.size() || json[i] != '"') return false;
    for (++i; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] != '\\' || i + 1 >= json.size()) {
            value.push_back(json[i]);
            continue;
        }
        const char escaped = json[++i];
        if (escaped == 'u' && i + 4 < json.size()) {
            const unsigned code = std::stoul(std::string(json.substr(i + 1, 4)), nullptr, 16);
            i += 4;
            if (code < 0x80) {
                value.push_back(static_cast<char>(code));
            } else if (code < 0x800) {
                value.push_back(static_cast<char>(0xC0 | (code >> 6)));
                value.push_back(static_cast<char>(0x80 | (code & 0x3F)));
            } else {
                value.push_back(static_cast<char>(0xE0 | (code >> 12)));
                value.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                value.push_back(static_cast<char>(0x80 | (code & 0x3F)));
            }
        } else {
            value.push_back(escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped);
        }
    }
    return true;
}

// Starts `argv` with its output on a non-blocking pipe; -1 when it cannot.
pid_t Spawn(const std::vector<std::string>& argv, int& out) {
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0) return -1;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipe[1]);
    if (pid < 0) {
        close(pipe[0]);
        return -1;
    }
    fcntl(pipe[0], F_SETFL, fcntl(pipe[0], F_GETFL) | O_NONBLOCK);
    out = pipe[0];
    return pid;
}

}  // namespace

JournalFollower::~JournalFollower() {
    StopFollowing();
}

bool JournalFollower::EntryLine(std::string_view json, std::string& line, std::string& cursor) {
    std::string message, time, pid, name;
    JsonValue(json, "__CURSOR", cursor);
    if (!JsonValue(json, "MESSAGE", message)) return false;
    JsonValue(json, "__REALTIME_TIMESTAMP", time);
    if (!JsonValue(json, "SYSLOG_IDENTIFIER", name)) name = "danted";
    JsonValue(json, "_PID", pid);
    // Microseconds since 1970, written as the file's "(seconds.micros)".
    const std::string seconds = time.size() > 6 ? time.substr(0, time.size() - 6) : "0";
    const std::string micros = time.size() > 6 ? time.substr(time.size() - 6) : "000000";
    line = "(" + seconds + "." + micros + ") " + name + "[" + (pid.empty() ? "0" : pid) +
           "]: " + message;
    return true;
}

void JournalFollower::TakeEntries(std::vector<std::string>& lines) {
    size_t start = 0;
    std::string line;
    for (size_t end = m_Partial.find('\n'); end != std::string::npos;
         end = m_Partial.find('\n', start)) {
        std::string cursor;
        if (EntryLine(std::string_view(m_Partial).substr(start, end - start), line, cursor))
            lines.push_back(line);
        if (!cursor.empty()) m_Cursor = cursor;
        start = end + 1;
    }
    m_Partial.erase(0, start);
}

void JournalFollower::Recent(std::vector<std::string>& lines, size_t maxBytes) {
    // About 400 bytes an entry in JSON, for a bound in lines.
    const std::string count = std::to_string(std::max<size_t>(maxBytes / 400, 1));
    int fd = -1;
    const pid_t pid = Spawn({m_Program, "-o", "json", "--no-pager", "-u", m_Unit, "-n", count}, fd);
    if (pid < 0) {
        m_Problem = m_Program + " cannot be started: " + std::strerror(errno);
        return;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    char chunk[1 << 16];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) {
        m_Partial.append(chunk, static_cast<size_t>(n));
        TakeEntries(lines);
    }
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    m_Partial.clear();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        m_Problem = "the journal of " + m_Unit + " cannot be read (" + m_Program + " failed)";
}

bool JournalFollower::StartFollowing() {
    std::vector<std::string> argv = {m_Program, "-f", "-o", "json", "--no-pager", "-u", m_Unit};
    if (m_Cursor.empty()) {
        argv.insert(argv.end(), {"-n", "0"});
    } else {
        argv.push_back("--after-cursor=" + m_Cursor);
    }
    m_Pid = Spawn(argv, m_Fd);
    if (m_Pid < 0) {
        m_Problem = m_Program + " cannot be started: " + std::strerror(errno);
        return false;
    }
    return true;
}

void JournalFollower::StopFollowing() {
    if (m_Pid > 0) {
        kill(m_Pid, SIGTERM);
        waitpid(m_Pid, nullptr, 0);
    }
    if (m_Fd >= 0) close(m_Fd);
    m_Pid = -1;
    m_Fd = -1;
}

void JournalFollower::Poll(std::vector<std::string>& lines) {
    if (m_Pid < 0 && std::chrono::steady_clock::now() < m_RetryAt) return;
    if (m_Pid < 0 && !StartFollowing()) return;
    char chunk[1 << 16];
    for (;;) {
        const ssize_t n = read(m_Fd, chunk, sizeof chunk);
        if (n > 0) {
            m_Partial.append(chunk, static_cast<size_t>(n));
            TakeEntries(lines);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            m_Problem.clear();
            return;
        }
        break;  // it ended: started again, from the cursor, at the next poll
    }
    int status = 0;
    waitpid(m_Pid, &status, 0);
    close(m_Fd);
    m_Pid = -1;
    m_Fd = -1;
    m_Partial.clear();
    m_RetryAt = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    m_Problem = "the journal of " + m_Unit + " cannot be followed (" + m_Program + " ended with " +
                (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                                   : std::string("a signal")) +
                ")";
}
