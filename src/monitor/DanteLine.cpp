#include "DanteLine.h"

#include <charconv>

#include "core/monitor/MonNetAddress.h"

namespace {

using Kind = DanteLine::Kind;

bool ParseUnsigned(std::string_view text, uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// The next word of `rest`, which loses it and the space after it.
std::string_view NextWord(std::string_view& rest) {
    const size_t space = rest.find(' ');
    const std::string_view word = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    return word;
}

bool Expect(std::string_view& rest, std::string_view word) {
    return NextWord(rest) == word;
}

// "ADDRESS.PORT"; a name in place of the address when `name` may take it.
bool ParseEndpoint(std::string_view text, MonNetAddress& address, std::string* name = nullptr,
                   uint16_t* namePort = nullptr) {
    const size_t dot = text.rfind('.');
    uint64_t port = 0;
    if (dot == std::string_view::npos || !ParseUnsigned(text.substr(dot + 1), port) || port > 65535)
        return false;
    const std::string_view host = text.substr(0, dot);
    address = {};
    if (Mon_ParseAddress(host, address)) {
        address.m_Port = static_cast<uint16_t>(port);
    } else if (!name || host.empty()) {
        return false;
    }
    if (name) name->assign(host);
    if (namePort) *namePort = static_cast<uint16_t>(port);
    return true;
}

uint8_t MethodNumber(std::string_view method) {
    if (method == "username" || method == "pam.username" || method == "bsdauth") return 2;
    if (method == "gssapi") return 1;
    return 0;
}

// "[METHOD%USER@]ADDRESS.PORT", the client as Dante writes it.
bool ParseClient(std::string_view text, DanteLine& line) {
    const size_t at = text.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view login = text.substr(0, at);
        const size_t percent = login.find('%');
        if (percent == std::string_view::npos) return false;
        line.m_Method = MethodNumber(login.substr(0, percent));
        line.m_User.assign(login.substr(percent + 1));
        text = text.substr(at + 1);
    }
    line.m_Key.assign(text);
    return ParseEndpoint(text, line.m_Client);
}

bool ParseExternal(std::string_view external, std::string_view dest, DanteLine& line) {
    line.m_Key += " ";
    line.m_Key += external;
    return ParseEndpoint(external, line.m_External) &&
           ParseEndpoint(dest, line.m_Dest, &line.m_DestName, &line.m_DestPort);
}

// "CLIENT PROXY -> EXTERNAL DEST"
bool ParseOpen(std::string_view rest, DanteLine& line) {
    if (!ParseClient(NextWord(rest), line) || !ParseEndpoint(NextWord(rest), line.m_Proxy) ||
        !Expect(rest, "->")) {
        return false;
    }
    const std::string_view external = NextWord(rest);
    const std::string_view dest = NextWord(rest);
    return ParseExternal(external, dest, line) && rest.empty();
}

// "REASON.  Session duration: Ns"
bool ParseReason(std::string_view rest, DanteLine& line) {
    constexpr std::string_view Duration = ".  Session duration: ";
    const size_t at = rest.rfind(Duration);
    if (at == std::string_view::npos) {
        line.m_Reason.assign(rest);
        return !rest.empty();
    }
    line.m_Reason.assign(rest.substr(0, at));
    std::string_view seconds = rest.substr(at + Duration.size());
    if (!seconds.empty() && seconds.back() == 's') seconds.remove_suffix(1);
    uint64_t value = 0;
    if (!ParseUnsigned(seconds, value)) return false;
    line.m_Seconds = static_cast<uint32_t>(value);
    return true;
}

// "A -> CLIENT PROXY -> B, C -> EXTERNAL DEST -> D: REASON.  Session duration: Ns"
// A and B are the client leg's, C and D the external leg's.
bool ParseClose(std::string_view rest, DanteLine& line) {
    uint64_t toClient = 0, fromClient = 0;
    std::string_view word;
    if (!ParseUnsigned(NextWord(rest), toClient) || !Expect(rest, "->") ||
        !ParseClient(NextWord(rest), line) || !ParseEndpoint(NextWord(rest), line.m_Proxy) ||
        !Expect(rest, "->")) {
        return false;
    }
    word = NextWord(rest);
    if (word.empty() || word.back() != ',' ||
        !ParseUnsigned(word.substr(0, word.size() - 1), fromClient))
        return false;
    const std::string_view sent = NextWord(rest);
    if (!ParseUnsigned(sent, line.m_BytesOut) || !Expect(rest, "->")) return false;
    const std::string_view external = NextWord(rest);
    const std::string_view dest = NextWord(rest);
    if (!ParseExternal(external, dest, line) || !Expect(rest, "->")) return false;
    word = NextWord(rest);
    if (word.empty() || word.back() != ':' ||
        !ParseUnsigned(word.substr(0, word.size() - 1), line.m_BytesIn))
        return false;
    return ParseReason(rest, line);
}

// "CLIENT PROXY -> EXTERNAL DEST" or "CLIENT PROXY[ -> EXTERNAL DEST]: REASON"
bool ParseBlocked(std::string_view rest, DanteLine& line) {
    if (!ParseClient(NextWord(rest), line)) return false;
    std::string_view proxy = NextWord(rest);
    if (!proxy.empty() && proxy.back() == ':') {
        proxy.remove_suffix(1);
        line.m_Reason.assign(rest);
        return ParseEndpoint(proxy, line.m_Proxy);
    }
    if (!ParseEndpoint(proxy, line.m_Proxy) || !Expect(rest, "->")) return false;
    const std::string_view external = NextWord(rest);
    std::string_view dest = NextWord(rest);
    const bool reason = !dest.empty() && dest.back() == ':';
    if (reason) dest.remove_suffix(1);
    line.m_Reason = reason ? std::string(rest) : "blocked by a socks rule";
    return ParseExternal(external, dest, line);
}

// "CLIENT PROXY: error after reading 21 bytes in 0 seconds: system password
// authentication failed for user "alice""
bool ParseLoginFailed(std::string_view rest, DanteLine& line) {
    if (!ParseClient(NextWord(rest), line)) return false;
    std::string_view proxy = NextWord(rest);
    if (proxy.empty() || proxy.back() != ':') return false;
    proxy.remove_suffix(1);
    const size_t close = rest.rfind('"');
    const size_t open = close == std::string_view::npos ? close : rest.rfind('"', close - 1);
    if (open != std::string_view::npos) line.m_User.assign(rest.substr(open + 1, close - open - 1));
    line.m_Method = 2;
    const size_t reason = rest.rfind(": ");
    line.m_Reason.assign(reason == std::string_view::npos ? rest : rest.substr(reason + 2));
    return ParseEndpoint(proxy, line.m_Proxy);
}

// "(1796870176.173783)": the first parenthesis of the line that holds a time.
void ReadPrefix(std::string_view text, DanteLine& line) {
    const size_t open = text.find('(');
    const size_t dot = open == std::string_view::npos ? open : text.find('.', open);
    uint64_t value = 0;
    if (dot != std::string_view::npos && dot - open <= 11 &&
        ParseUnsigned(text.substr(open + 1, dot - open - 1), value)) {
        line.m_Time = static_cast<uint32_t>(value);
    }
    const size_t bracket = text.find("]: ");
    const size_t start = bracket == std::string_view::npos ? bracket : text.rfind('[', bracket);
    if (start != std::string_view::npos &&
        ParseUnsigned(text.substr(start + 1, bracket - start - 1), value)) {
        line.m_Pid = static_cast<uint32_t>(value);
    }
}

}  // namespace

DanteLine ParseDanteLine(std::string_view text) {
    DanteLine line;
    struct Form {
        std::string_view m_Marker;
        Kind m_Kind;
        bool (*m_Parse)(std::string_view, DanteLine&);
    };
    static constexpr Form Forms[] = {
        {"): tcp/connect [: ", Kind::Open, ParseOpen},
        {"): tcp/connect ]: ", Kind::Close, ParseClose},
    };
    for (const Form& form : Forms) {
        const size_t at = text.find(form.m_Marker);
        if (at == std::string_view::npos) continue;
        // "pass(2)" or "block(1)": the rule's verdict, just before the marker.
        const size_t verdict = text.rfind(' ', at);
        const bool blocked =
            verdict != std::string_view::npos && text.substr(verdict + 1, 6) == "block(";
        const std::string_view rest = text.substr(at + form.m_Marker.size());
        ReadPrefix(text.substr(0, at), line);
        Kind kind = form.m_Kind;
        bool read = false;
        if (blocked) {
            kind = form.m_Kind == Kind::Close ? Kind::Blocked : Kind::Other;
            read = kind == Kind::Other || ParseBlocked(rest, line);
        } else {
            read = form.m_Parse(rest, line);
        }
        line.m_Kind = read ? kind : Kind::Unreadable;
        return line;
    }
    const size_t accept = text.find("): tcp/accept ]: ");
    if (accept != std::string_view::npos &&
        text.find("authentication failed") != std::string_view::npos) {
        ReadPrefix(text.substr(0, accept), line);
        line.m_Kind =
            ParseLoginFailed(text.substr(accept + 17), line) ? Kind::LoginFailed : Kind::Unreadable;
    }
    return line;
}
