#include "UserFile.h"

#include <crypt.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>

namespace {

// One scratch area per thread: libcrypt's is 32 KiB, too big for a stack frame.
const char* Crypt(const std::string& phrase, const std::string& setting) {
    thread_local std::unique_ptr<crypt_data> data = std::make_unique<crypt_data>();
    return crypt_rn(phrase.c_str(), setting.c_str(), data.get(), sizeof *data);
}

bool SameText(const char* a, const std::string& b) {
    if (a == nullptr) return false;
    // Compares every byte, so the time taken says nothing of where they differ.
    unsigned char differ = 0;
    size_t i = 0;
    for (; a[i] != '\0' && i < b.size(); ++i) {
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return differ == 0 && a[i] == '\0' && i == b.size();
}

// How long the hash proper (after the last '$') of the methods people use
// is; 0 for another method.
size_t HashLength(const std::string& hash) {
    struct Method {
        const char* m_Prefix;
        size_t m_Length;
    };
    static constexpr Method Methods[] = {{"$y$", 43},  {"$gy$", 43}, {"$7$", 43},
                                         {"$6$", 86},  {"$5$", 43},  {"$1$", 22},
                                         {"$2b$", 53}, {"$2a$", 53}, {"$2y$", 53}};
    for (const Method& method : Methods) {
        if (hash.rfind(method.m_Prefix, 0) == 0) return method.m_Length;
    }
    return 0;
}

// The form of a complete hash of those methods: a setting libcrypt takes,
// then at least a salt, then the hash of the right length in crypt's
// alphabet. No hashing: a users file of thousands loads at once.
bool HasHashForm(const std::string& hash, size_t length) {
    const size_t last = hash.rfind('$');
    if (std::count(hash.begin(), hash.end(), '$') < 3 || hash.size() - last - 1 != length) {
        return false;
    }
    return std::all_of(
        hash.begin() + static_cast<std::ptrdiff_t>(last) + 1, hash.end(),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '/'; });
}

// A complete hash of a method libcrypt supports: its setting is valid and
// the hash has the form of its method. A setting alone, a cut hash and a
// plain-text password all fail. A method not known here is hashed once.
bool IsCryptHash(const std::string& hash) {
    const int verdict = crypt_checksalt(hash.c_str());
    if (verdict != CRYPT_SALT_OK && verdict != CRYPT_SALT_METHOD_LEGACY &&
        verdict != CRYPT_SALT_TOO_CHEAP) {
        return false;
    }
    // Thirteen letters and digits pass as an old DES hash; no one means those.
    if (hash[0] != '$') return false;
    if (const size_t length = HashLength(hash); length != 0) return HasHashForm(hash, length);
    const char* again = Crypt("x", hash);
    return again != nullptr && again[0] == '$' && std::string(again).size() == hash.size();
}

// Spends the time of a real check when there is no real hash to check against.
constexpr const char* FallbackDecoy =
    "$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C";

bool IsLocked(const std::string& hash) {
    return !hash.empty() && (hash[0] == '!' || hash[0] == '*');
}

}  // namespace

bool UserFile::Load(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::string line;
    std::unordered_map<std::string, int> lineOf;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos || colon > 255) {
            error = where + "expected name:HASH";
            return false;
        }
        const std::string name = line.substr(0, colon);
        const std::string hash = line.substr(colon + 1);
        if (const auto [first, added] = lineOf.try_emplace(name, number); !added) {
            error = where + "\"" + name + "\" is listed again (first on line " +
                    std::to_string(first->second) + "); remove one of the two";
            return false;
        }
        if (IsLocked(hash)) {
            m_Notes.push_back(where + "\"" + name + "\" is locked (its hash starts with '" +
                              hash[0] + "'): that user can never log in");
            m_Hashes[name].clear();
            continue;
        }
        if (!IsCryptHash(hash)) {
            error = where + "the password of \"" + name +
                    "\" is not a crypt(3) hash (plain text is refused; make one with "
                    "mkpasswd -m yescrypt)";
            return false;
        }
        if (m_DecoyHash.empty()) m_DecoyHash = hash;
        m_Hashes[name] = hash;
    }
    if (m_Hashes.empty()) {
        error = path + ": no users";
        return false;
    }
    if (m_DecoyHash.empty()) m_DecoyHash = FallbackDecoy;
    return true;
}

bool UserFile::Check(const std::string& user, const std::string& password) const {
    const auto found = m_Hashes.find(user);
    if (password.find('\0') != std::string::npos) return false;
    if (found == m_Hashes.end() || found->second.empty()) {
        Crypt(password, m_DecoyHash);
        return false;
    }
    return SameText(Crypt(password, found->second), found->second);
}
