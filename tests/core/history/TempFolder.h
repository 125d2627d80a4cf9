#pragma once
// A folder of its own under /tmp for a test's history files, removed with them.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/vgl-history-XXXXXX";
        m_Path = mkdtemp(pattern);
    }
    ~TempFolder() { std::filesystem::remove_all(m_Path); }
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
