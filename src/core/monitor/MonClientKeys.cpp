#include "core/monitor/MonClientKeys.h"

#include <cctype>
#include <fstream>

namespace {

// SHA-256 is 32 bytes: 43 characters of base64 without its padding.
constexpr size_t DigestChars = 43;
constexpr char Prefix[] = "SHA256:";
// The second field of a client that may act on the server.
constexpr char ActMark[] = "act";

bool IsBase64(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/';
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

}  // namespace

bool MonClientKeys::IsFingerprint(const std::string& text) {
    const size_t prefix = sizeof Prefix - 1;
    if (text.size() != prefix + DigestChars || text.compare(0, prefix, Prefix) != 0) return false;
    for (size_t i = prefix; i < text.size(); ++i) {
        if (!IsBase64(text[i])) return false;
    }
    return true;
}

bool MonClientKeys::Load(const std::string& path, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    std::map<std::string, Client> names;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::string text = Trimmed(line.substr(0, line.find('#')));
        if (text.empty()) continue;
        const size_t space = text.find_first_of(" \t");
        const std::string key = text.substr(0, space);
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (!IsFingerprint(key)) {
            error = where + "\"" + key +
                    "\" is not a fingerprint (expected SHA256: and 43 characters of base64)";
            return false;
        }
        Client client{space == std::string::npos ? "" : Trimmed(text.substr(space))};
        if (client.m_Name == ActMark || client.m_Name.rfind(ActMark + std::string(" "), 0) == 0 ||
            client.m_Name.rfind(ActMark + std::string("\t"), 0) == 0) {
            client.m_bMayAct = true;
            client.m_Name = Trimmed(client.m_Name.substr(sizeof ActMark - 1));
        }
        if (!names.emplace(key, std::move(client)).second) {
            error = where + key + " is listed twice";
            return false;
        }
    }
    if (file.bad()) {
        error = path + ": cannot be read";
        return false;
    }
    m_Names = std::move(names);
    return true;
}

bool MonClientKeys::Find(const std::string& fingerprint, std::string& name, bool* mayAct) const {
    const auto found = m_Names.find(fingerprint);
    if (found == m_Names.end()) return false;
    name = found->second.m_Name;
    if (mayAct) *mayAct = found->second.m_bMayAct;
    return true;
}
