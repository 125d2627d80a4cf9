#include "TomlFile.h"

bool ReadTomlFile(const std::string& path, toml::table& file, std::string& error) {
    try {
        file = toml::parse_file(path);
    } catch (const toml::parse_error& failure) {
        // A file that cannot be opened has no line to name.
        const auto line = failure.source().begin.line;
        error = line == 0
                    ? path + ": cannot be read"
                    : path + ":" + std::to_string(line) + ": " + std::string(failure.description());
        return false;
    }
    return true;
}
