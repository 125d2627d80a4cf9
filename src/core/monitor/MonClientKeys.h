#pragma once
// The clients a monitor hands its records to over TLS: a file of lines
// "SHA256:... [act] name" (the fingerprint of the client's certificate, the
// mark "act" for a client that may close connections and block, then a name
// for the log), blank lines and '#' comments ignored. Whoever holds one of
// these keys sees every connection of the proxy, so a line that cannot be
// read refuses the whole file rather than being skipped.

#include <map>
#include <string>

class MonClientKeys {
public:
    // Replaces nothing on failure; the message names the file and the line.
    bool Load(const std::string& path, std::string& error);
    // The name the file gives the fingerprint, and whether its line is
    // marked "act"; false when it is not listed.
    bool Find(const std::string& fingerprint, std::string& name, bool* mayAct = nullptr) const;
    size_t Size() const { return m_Names.size(); }

    // True for "SHA256:" and 43 characters of unpadded base64.
    static bool IsFingerprint(const std::string& text);

private:
    struct Client {
        std::string m_Name;
        bool m_bMayAct = false;
    };
    std::map<std::string, Client> m_Names;  // by fingerprint
};
