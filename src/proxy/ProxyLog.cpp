#include "ProxyLog.h"

#include <unistd.h>

namespace {

void WriteLine(const std::string& line) {
    const std::string text = "vgl-proxy: " + line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

void ProxyLog::Connection(const std::string& line) const {
    if (!m_bQuiet) WriteLine(line);
}

void ProxyLog::Notice(const std::string& line) const {
    WriteLine(line);
}
