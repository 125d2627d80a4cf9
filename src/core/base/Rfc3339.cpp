#include "core/base/Rfc3339.h"

#include <ctime>

std::string Rfc3339(int64_t seconds) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (gmtime_r(&when, &utc) == nullptr) return std::string();
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}
