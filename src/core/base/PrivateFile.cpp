#include "core/base/PrivateFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::string Reason() {
    return std::strerror(errno);
}

bool WriteAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

bool MakePrivateFolders(const std::string& path, std::string& error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "Cannot make the folder " + folder + ": " + Reason();
            return false;
        }
    }
    return true;
}

bool WritePrivateFile(const std::string& path, const std::string& bytes, std::string& error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "Cannot write " + path + ": " + Reason();
        return false;
    }
    const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const std::string reason = Reason();
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "Cannot write " + path + ": " + (written ? Reason() : reason);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}
