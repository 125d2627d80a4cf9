#pragma once
// The users of --users FILE: one "name:HASH" a line, HASH a crypt(3) hash
// such as `mkpasswd -m yescrypt` makes; blank lines and lines starting with
// '#' are skipped. Passwords are checked by the system's libcrypt. A hash
// that starts with '!' or '*' locks its user out, as in /etc/shadow.

#include <string>
#include <unordered_map>
#include <vector>

class UserFile {
public:
    // Reads the file; false with a message naming the file and line when a
    // line is not "name:HASH" or its hash is not one libcrypt can check
    // (a plain-text password, most likely), or when a name comes twice.
    bool Load(const std::string& path, std::string& error);
    // What the operator should hear of a file that loaded: its locked users.
    const std::vector<std::string>& Notes() const { return m_Notes; }
    bool Empty() const { return m_Hashes.empty(); }
    // Slow (the hash is meant to be): run it away from the I/O threads.
    bool Check(const std::string& user, const std::string& password) const;

private:
    std::unordered_map<std::string, std::string> m_Hashes;  // "" for a locked user
    std::vector<std::string> m_Notes;
    std::string m_DecoyHash;  // spends the same time on unknown users
};
