#include "core/history/HistoryPath.h"

#include <cstdlib>

std::string HistoryDefaultPath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string folder;
    if (data != nullptr && data[0] == '/') {
        folder = data;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    return folder + "/vgl/history.sqlite3";
}
