#include "DanteTracker.h"

#include "ServiceName.h"
#include "SocksReply.h"

uint32_t DanteResultCode(const std::string& reason) {
    struct Known {
        const char* m_Text;
        uint32_t m_Code;
    };
    static constexpr Known Errors[] = {
        {"(Connection refused)", ReplyConnectionRefused},
        {"(Network is unreachable)", ReplyNetworkUnreachable},
        {"(No route to host)", ReplyHostUnreachable},
        {"(Host is unreachable)", ReplyHostUnreachable},
        {"(Connection timed out)", ReplyHostUnreachable},
        {"could not resolve", ReplyHostUnreachable},
        {"no IPv6 address configured", ReplyAddressTypeNotSupported},
    };
    for (const Known& known : Errors) {
        if (reason.find(known.m_Text) != std::string::npos) return known.m_Code;
    }
    // "remote peer error (Connection reset by peer)" ends a session that
    // stood; "client closed", "remote peer closed" end it well.
    return reason.find("error") != std::string::npos ? ReplyGeneralFailure : ReplySucceeded;
}

std::shared_ptr<ConnectionInfo> DanteTracker::MakeInfo(const DanteLine& line, uint32_t start) {
    auto info = std::make_shared<ConnectionInfo>();
    info->m_Id = m_NextId++;
    info->m_StartTime = start;
    info->m_Method = line.m_Method;
    info->m_User = line.m_User;
    info->m_Source = line.m_Client;
    if (line.m_DestPort != 0 || !line.m_DestName.empty()) {
        info->SetDestination(Service(line.m_DestPort), line.m_DestName, line.m_Dest);
    }
    ++m_Sessions;
    return info;
}

const std::string& DanteTracker::Service(uint16_t port) {
    auto [slot, made] = m_Services.try_emplace(port);
    if (made) slot->second = ServiceName(port);
    return slot->second;
}

void DanteTracker::Open(const DanteLine& line, uint32_t now) {
    const uint32_t start = line.m_Time ? line.m_Time : now;
    auto [slot, made] = m_Open.try_emplace(line.m_Key);
    if (!made) return;  // the same line twice: Dante would not reuse both endpoints at once
    slot->second = {MakeInfo(line, start),
                    {line.m_Client, line.m_Proxy, line.m_External, line.m_Dest}};
    m_Hub.Open(slot->second.m_Info);
}

void DanteTracker::Close(const DanteLine& line, uint32_t now) {
    const uint32_t end = line.m_Time ? line.m_Time : now;
    std::shared_ptr<ConnectionInfo> info;
    const auto found = m_Open.find(line.m_Key);
    if (found != m_Open.end()) {
        info = found->second.m_Info;
        m_Open.erase(found);
    } else {
        // Never opened in our view: a connect that failed, or a session
        // older than what we read. The duration gives back its start.
        info = MakeInfo(line, end - std::min(end, line.m_Seconds));
        m_Hub.Open(info);
    }
    // Dante's own totals win over the kernel's last counters.
    info->m_BytesIn = line.m_BytesIn;
    info->m_BytesOut = line.m_BytesOut;
    const uint32_t code = DanteResultCode(line.m_Reason);
    if (code != 0) {
        info->m_ResultCode = code;
        info->m_ResultText = line.m_Reason;
        m_Hub.Result(info);
    }
    info->m_EndTime = end;
    m_Hub.Close(info);
}

void DanteTracker::Failed(const DanteLine& line, uint32_t now, uint32_t code) {
    const uint32_t time = line.m_Time ? line.m_Time : now;
    const std::shared_ptr<ConnectionInfo> info = MakeInfo(line, time);
    m_Hub.Open(info);
    info->m_ResultCode = code;
    info->m_ResultText = line.m_Reason;
    m_Hub.Result(info);
    info->m_EndTime = time;
    m_Hub.Close(info);
}

void DanteTracker::Take(std::string_view text, uint32_t now) {
    const DanteLine line = ParseDanteLine(text);
    switch (line.m_Kind) {
        case DanteLine::Kind::Other:
            break;
        case DanteLine::Kind::Unreadable:
            ++m_Unreadable;
            m_LastUnreadable.assign(text);
            break;
        case DanteLine::Kind::Open:
            Open(line, now);
            break;
        case DanteLine::Kind::Close:
            Close(line, now);
            break;
        case DanteLine::Kind::Blocked:
            Failed(line, now, ReplyNotAllowed);
            break;
        case DanteLine::Kind::LoginFailed:
            Failed(line, now, ResultAuthenticationFailed);
            break;
    }
}

void DanteTracker::Learn(const std::vector<std::string>& lines,
                         const std::function<bool(const DanteLine&)>& stillOpen) {
    // The open lines not closed later in the same lines, in their order.
    std::unordered_map<std::string, size_t> opened;
    std::vector<DanteLine> open;
    for (const std::string& text : lines) {
        DanteLine line = ParseDanteLine(text);
        if (line.m_Kind == DanteLine::Kind::Open) {
            opened[line.m_Key] = open.size();
            open.push_back(std::move(line));
        } else if (line.m_Kind == DanteLine::Kind::Close) {
            const auto found = opened.find(line.m_Key);
            if (found == opened.end()) continue;
            open[found->second].m_Kind = DanteLine::Kind::Other;
            opened.erase(found);
        }
    }
    for (const DanteLine& line : open) {
        if (line.m_Kind == DanteLine::Kind::Open && stillOpen(line)) Open(line, line.m_Time);
    }
}

void DanteTracker::ForEachOpen(
    const std::function<void(const MonNetAddress& external, ConnectionInfo&)>& visit) {
    for (auto& [key, session] : m_Open) visit(session.m_Endpoints.m_External, *session.m_Info);
}

// A look through every open session: it serves a close, which is rare.
bool DanteTracker::FindOpen(uint32_t id, DanteEndpoints& endpoints) const {
    for (const auto& [key, session] : m_Open) {
        if (session.m_Info->m_Id != id) continue;
        endpoints = session.m_Endpoints;
        return true;
    }
    return false;
}

std::string DanteTracker::TakeUnreadable() {
    std::string last;
    last.swap(m_LastUnreadable);
    return last;
}
