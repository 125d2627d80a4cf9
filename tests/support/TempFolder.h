#pragma once
// A folder of its own under /tmp for a test's files, removed with them.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/vgl-test-XXXXXX";
        m_Path = mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!m_Path.empty()) std::filesystem::remove_all(m_Path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_Path; }
    std::string File(const std::string& name) const { return m_Path + "/" + name; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& item : std::filesystem::directory_iterator(m_Path))
            names.push_back(item.path().filename().string());
        return names;
    }

private:
    std::string m_Path;
};
