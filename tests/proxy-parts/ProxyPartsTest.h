#pragma once
// What the tests of the proxy's parts share: addresses from their text, and
// files that live as long as a test.

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "Asio.h"

inline Address16 Address(const std::string& text) {
    return ToAddress16(asio::ip::make_address(text));
}

class TempFile {
public:
    explicit TempFile(const std::string& text) {
        char path[] = "/tmp/vgl-proxy-parts-XXXXXX";
        const int fd = mkstemp(path);
        if (fd >= 0) close(fd);
        m_Path = path;
        std::ofstream(m_Path, std::ios::binary) << text;
    }
    ~TempFile() { std::remove(m_Path.c_str()); }
    const std::string& Path() const { return m_Path; }

private:
    std::string m_Path;
};
