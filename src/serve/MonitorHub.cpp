#include "MonitorHub.h"

#include <algorithm>
#include <ctime>

void MonitorHub::Post(EventKind kind, const std::shared_ptr<ConnectionInfo>& info) {
    for (const std::shared_ptr<Feed>& feed : m_Feeds) {
        if (feed->m_bOverflow) continue;
        if (feed->m_Pending.size() >= MaxPending) {
            feed->m_bOverflow = true;
            std::vector<Event>().swap(feed->m_Pending);
            continue;
        }
        feed->m_Pending.push_back({kind, info});
    }
}

void MonitorHub::Open(const std::shared_ptr<ConnectionInfo>& info) {
    std::lock_guard lock(m_Mutex);
    m_Live[info->m_Id] = info;
    Post(EventKind::Open, info);
}

void MonitorHub::Result(const std::shared_ptr<ConnectionInfo>& info) {
    std::lock_guard lock(m_Mutex);
    Post(EventKind::Result, info);
}

void MonitorHub::Close(const std::shared_ptr<ConnectionInfo>& info) {
    std::lock_guard lock(m_Mutex);
    if (info->m_EndTime == 0) info->m_EndTime = static_cast<uint32_t>(std::time(nullptr));
    m_Live.erase(info->m_Id);
    Post(EventKind::Close, info);
}

std::shared_ptr<MonitorHub::Feed> MonitorHub::Attach() {
    auto feed = std::make_shared<Feed>();
    std::lock_guard lock(m_Mutex);
    for (const auto& [id, info] : m_Live) feed->m_Pending.push_back({EventKind::Open, info});
    m_Feeds.push_back(feed);
    return feed;
}

void MonitorHub::Detach(const std::shared_ptr<Feed>& feed) {
    std::lock_guard lock(m_Mutex);
    m_Feeds.erase(std::remove(m_Feeds.begin(), m_Feeds.end(), feed), m_Feeds.end());
}

bool MonitorHub::AllDelivered() {
    std::lock_guard lock(m_Mutex);
    return std::all_of(m_Feeds.begin(), m_Feeds.end(), [](const std::shared_ptr<Feed>& feed) {
        return feed->m_Pending.empty() || feed->m_bOverflow;
    });
}

MonBytes MonitorHub::EncodeOpenFor(int version, const ConnectionInfo& info) const {
    if (version == 2) {
        return EncodeOpen2(m_IdHigh, info.m_Id, info.m_Method, info.m_StartTime,
                           MonFieldText(info.m_User), info.m_Source,
                           MonFieldText(info.m_SourceName));
    }
    return EncodeOpen(m_IdHigh, info.m_Id, info.m_Method, info.m_StartTime,
                      MonFieldText(info.m_User), MonitorSockAddr(info.m_Source),
                      MonFieldText(info.m_SourceName));
}

bool MonitorHub::TakeBatch(Feed& feed, MonBytes& batch, int version) {
    std::vector<Event> events;
    std::vector<std::shared_ptr<ConnectionInfo>> live;
    {
        std::lock_guard lock(m_Mutex);
        if (feed.m_bOverflow) return false;
        events.swap(feed.m_Pending);
        live.reserve(m_Live.size());
        for (const auto& [id, info] : m_Live) live.push_back(info);
    }
    batch.clear();
    // Encoding happens outside the lock: sessions never wait for a monitor client.
    for (const Event& event : events) {
        const ConnectionInfo& info = *event.m_Info;
        switch (event.m_Kind) {
            case EventKind::Open:
                AppendFrame(batch, EncodeOpenFor(version, info));
                feed.m_Sent[info.m_Id] = {};
                break;
            case EventKind::Result:
                feed.EncodeUpdate(m_IdHigh, info, batch, version);
                AppendFrame(batch, version == 2
                                       ? EncodeResult2(m_IdHigh, info.m_Id, info.m_ResultCode,
                                                       MonFieldText(info.m_ResultText))
                                       : EncodeResult(m_IdHigh, info.m_Id, info.m_ResultCode,
                                                      MonFieldText(info.m_ResultText)));
                break;
            case EventKind::Close:
                feed.EncodeUpdate(m_IdHigh, info, batch, version);
                AppendFrame(batch, version == 2 ? EncodeClose2(m_IdHigh, info.m_Id, info.m_EndTime)
                                                : EncodeClose(m_IdHigh, info.m_Id, info.m_EndTime));
                feed.m_Sent.erase(info.m_Id);
                break;
        }
    }
    for (const std::shared_ptr<ConnectionInfo>& info : live) {
        feed.EncodeUpdate(m_IdHigh, *info, batch, version);
    }
    AppendU16(batch, 0);
    return true;
}

// An update only when something changed since this client last heard of the
// connection, and only for connections whose open it has been sent.
void MonitorHub::Feed::EncodeUpdate(uint32_t idHigh, const ConnectionInfo& info, MonBytes& batch,
                                    int version) {
    const auto sent = m_Sent.find(info.m_Id);
    if (sent == m_Sent.end()) return;
    const uint64_t in = info.m_BytesIn.load(std::memory_order_relaxed);
    const uint64_t out = info.m_BytesOut.load(std::memory_order_relaxed);
    const ConnectionInfo::Destination dest = info.GetDestination();
    Sent& last = sent->second;
    if (in == last.m_In && out == last.m_Out && dest.m_Version == last.m_Version) return;
    last = {in, out, dest.m_Version};
    if (version == 2) {  // 64-bit totals, and the destination of either family with its port
        AppendFrame(batch,
                    EncodeUpdate2(idHigh, info.m_Id, MonFieldText(dest.m_Service, MonServiceLimit),
                                  {}, {}, dest.m_Addr, MonFieldText(dest.m_Name), in, out));
        return;
    }
    // The first version carries running totals in 32 bits; the client takes growth modulo 2^32.
    AppendFrame(batch,
                ::EncodeUpdate(idHigh, info.m_Id, MonFieldText(dest.m_Service, MonServiceLimit), {},
                               {}, MonitorSockAddr(dest.m_Addr), MonFieldText(dest.m_Name),
                               static_cast<uint32_t>(in), static_cast<uint32_t>(out)));
}
