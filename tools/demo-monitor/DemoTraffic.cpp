#include "DemoTraffic.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace demo {

// A kind of traffic: how often it is chosen, how fast it moves bytes (per
// second, in and out) and how long a connection of it lasts.
struct DemoService {
    const char* m_Name;
    uint16_t m_Port;
    int m_Weight;
    double m_InLow, m_InHigh, m_OutLow, m_OutHigh;
    int m_LifeLow, m_LifeHigh;
    std::vector<const char*> m_Hosts;
};

namespace {

const std::vector<DemoService>& Services() {
    static const std::vector<DemoService> services = {
        {"www",
         80,
         26,
         2000,
         60000,
         150,
         2000,
         4,
         70,
         {"www.example.com", "news.example.org", "docs.example.net", "intranet.corp.example",
          "weather.example.com", "shop.example.org"}},
        {"https",
         443,
         20,
         1500,
         80000,
         300,
         4000,
         5,
         120,
         {"mail.example.com", "bank.example.net", "portal.example.org", "cdn.example.com",
          "login.example.net"}},
        {"ftp",
         21,
         6,
         40,
         400,
         20,
         150,
         60,
         300,
         {"ftp.example.org", "mirror.example.net", "files.example.com"}},
        {"ftp-data",
         20,
         7,
         30000,
         250000,
         50,
         500,
         8,
         60,
         {"ftp.example.org", "mirror.example.net", "files.example.com"}},
        {"telnet",
         23,
         4,
         30,
         600,
         10,
         120,
         90,
         600,
         {"mainframe.corp.example", "router1.corp.example", "bbs.example.org"}},
        {"ssh",
         22,
         8,
         100,
         6000,
         50,
         1500,
         60,
         900,
         {"build01.corp.example", "git.example.org", "shell.example.net", "db2.corp.example"}},
        {"smtp",
         25,
         6,
         60,
         300,
         2000,
         30000,
         3,
         20,
         {"smtp.example.com", "mx1.example.net", "relay.corp.example"}},
        {"archie",
         1525,
         3,
         200,
         3000,
         40,
         200,
         5,
         30,
         {"archie.example.org", "archie2.example.net"}},
        {"whois", 43, 4, 300, 2500, 20, 60, 2, 8, {"whois.example.net", "whois.nic.example"}},
        {"finger", 79, 3, 100, 900, 10, 40, 1, 5, {"cs.example.org", "unix.example.net"}},
        {"nntp", 119, 2, 5000, 40000, 100, 800, 20, 180, {"news.example.net"}},
        {"pop3", 110, 3, 3000, 30000, 50, 300, 3, 25, {"pop.example.com"}},
    };
    return services;
}

struct Client {
    const char* m_Name;
    uint32_t m_Ip;
    const char* m_User;
};

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

constexpr std::array<Client, 12> Clients = {{
    {"ws-01.office.example", Ip(10, 1, 0, 11), "alice"},
    {"ws-02.office.example", Ip(10, 1, 0, 12), "bob"},
    {"ws-03.office.example", Ip(10, 1, 0, 13), "carol"},
    {"ws-04.office.example", Ip(10, 1, 0, 14), "dave"},
    {"ws-05.office.example", Ip(10, 1, 0, 15), "erin"},
    {"ws-06.office.example", Ip(10, 1, 0, 16), "frank"},
    {"ws-07.office.example", Ip(10, 1, 0, 17), "grace"},
    {"ws-08.office.example", Ip(10, 1, 0, 18), "heidi"},
    {"lab-pc3.office.example", Ip(10, 1, 2, 33), "ivan"},
    {"laptop-judy.office.example", Ip(10, 1, 4, 57), "judy"},
    {"build-agent.office.example", Ip(10, 1, 8, 2), "ci-runner"},
    {"kiosk.office.example", Ip(10, 1, 9, 40), ""},
}};

struct NextServer {
    const char* m_Name;
    uint32_t m_Ip;
};

constexpr std::array<NextServer, 2> NextServers = {{
    {"socks-hq.corp.example", Ip(10, 9, 0, 2)},
    {"gw.partner.example", Ip(198, 51, 100, 77)},
}};

struct Failure {
    uint32_t m_Code;
    const char* m_Text;
};

// SOCKS5 reply codes that a proxy reports for a connection it could not make.
constexpr std::array<Failure, 6> Failures = {{
    {1, "general SOCKS server failure"},
    {2, "connection not allowed by ruleset"},
    {3, "Network unreachable"},
    {4, "Host unreachable"},
    {5, "Connection refused"},
    {6, "TTL expired"},
}};

constexpr int InitialConnections = 15;
constexpr double FailureChance = 0.08;
constexpr double ChainChance = 0.15;
constexpr int64_t MaxCatchUp = 3600;
constexpr double IdleChance = 0.15;
constexpr double PaceLow = 0.2, PaceHigh = 1.8;
constexpr int64_t SecondsMovedOneByOne = 8;

// A stable made-up address for a host name: company hosts in 10.20/16, the
// rest in the documentation ranges.
uint32_t AddressOf(const std::string& host) {
    uint32_t hash = 2166136261u;
    for (char c : host) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    }
    if (host.find(".corp.") != std::string::npos) {
        return Ip(10, 20, (hash >> 8) & 0xFF, 1 + hash % 254);
    }
    static constexpr uint32_t Ranges[] = {Ip(192, 0, 2, 0), Ip(198, 51, 100, 0),
                                          Ip(203, 0, 113, 0)};
    return Ranges[(hash >> 16) % 3] | (1 + hash % 254);
}

uint32_t Wire32(double bytes) {
    return static_cast<uint32_t>(static_cast<uint64_t>(bytes));
}

}  // namespace

DemoTraffic::DemoTraffic(uint32_t seed, int64_t now, int connections)
    : m_Random(seed), m_Now(now), m_Scale(static_cast<double>(connections) / DefaultConnections) {
    m_IdHigh = static_cast<uint32_t>(Uniform(1, 9999));
    // The proxy has been busy before the monitor was asked: each of these
    // connections is somewhere in the middle of its life.
    const int initial = std::max(1, static_cast<int>(InitialConnections * m_Scale));
    for (int i = 0; i < initial; ++i) {
        OpenFields open;
        Connection c = MakeConnection(now, open);
        if (c.m_ResultCode != 0) {
            continue;
        }
        const int64_t elapsed = Uniform(0, static_cast<int>(c.m_End - now) - 1);
        open.m_StartTime = static_cast<uint32_t>(now - elapsed);
        c.m_OpenRecord = WireOpen(m_IdHigh, c.m_IdLow, open);
        c.m_End -= elapsed;
        Move(c, elapsed);
        c.m_ResultRecord = ResultOf(c);
        c.m_NextUpdate = now + Uniform(1, 4);
        m_Active.push_back(c);
    }
}

int DemoTraffic::Uniform(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(m_Random);
}

double DemoTraffic::Real(double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(m_Random);
}

bool DemoTraffic::Chance(double p) {
    return Real(0, 1) < p;
}

DemoTraffic::Connection DemoTraffic::MakeConnection(int64_t start, OpenFields& open) {
    const std::vector<DemoService>& services = Services();
    int total = 0;
    for (const DemoService& s : services) {
        total += s.m_Weight;
    }
    int pick = Uniform(0, total - 1);
    const DemoService* service = &services.front();
    for (const DemoService& s : services) {
        if (pick < s.m_Weight) {
            service = &s;
            break;
        }
        pick -= s.m_Weight;
    }

    Connection c;
    c.m_IdLow = m_NextIdLow++;
    c.m_Service = service;
    const Client& client = Clients[static_cast<size_t>(Uniform(0, Clients.size() - 1))];
    open.m_StartTime = static_cast<uint32_t>(start);
    open.m_Source = {client.m_Ip, static_cast<uint16_t>(Uniform(32768, 60999))};
    open.m_SourceName = client.m_Name;
    const double auth = Real(0, 1);
    if (client.m_User[0] == '\0' || auth < 0.12) {
        open.m_Auth = 0x00;
    } else if (auth < 0.22) {
        open.m_Auth = 0x01;
        open.m_User = std::string(client.m_User) + "@OFFICE.EXAMPLE";
    } else {
        open.m_Auth = 0x02;
        open.m_User = client.m_User;
    }

    const std::string host =
        service->m_Hosts[static_cast<size_t>(Uniform(0, service->m_Hosts.size() - 1))];
    c.m_Update.m_Service = service->m_Name;
    c.m_Update.m_Dest = {AddressOf(host), service->m_Port};
    c.m_Update.m_DestName = host;
    if (Chance(ChainChance)) {
        const NextServer& next =
            NextServers[static_cast<size_t>(Uniform(0, NextServers.size() - 1))];
        c.m_Update.m_NextServer = {next.m_Ip, 1080};
        c.m_Update.m_NextServerName = next.m_Name;
    }
    c.m_RateIn = Real(service->m_InLow, service->m_InHigh);
    c.m_RateOut = Real(service->m_OutLow, service->m_OutHigh);
    c.m_BytesOut = Uniform(40, 600);  // the request that opened it
    c.m_End = start + Uniform(service->m_LifeLow, service->m_LifeHigh);
    c.m_NextUpdate = start + Uniform(2, 4);
    if (Chance(FailureChance)) {
        const Failure& failure = Failures[static_cast<size_t>(Uniform(0, Failures.size() - 1))];
        c.m_ResultCode = failure.m_Code;
        c.m_ResultAt = start + Uniform(1, 3);
        c.m_End = c.m_ResultAt + Uniform(1, 2);
        c.m_RateIn = c.m_RateOut = 0;
    }
    return c;
}

// Moves the connection's bytes on by some seconds at an uneven pace: a second
// is idle now and then, a busy one moves 0.2 to 1.8 times the rate. Over many
// seconds the busy ones are counted and their pace summed in one draw each,
// with the same mean and spread, so that a connection that started long ago
// costs no more than one that starts now.
void DemoTraffic::Move(Connection& c, int64_t seconds) {
    if (seconds <= SecondsMovedOneByOne) {
        for (int64_t i = 0; i < seconds; ++i) {
            if (Chance(IdleChance)) {
                continue;
            }
            c.m_BytesIn += c.m_RateIn * Real(PaceLow, PaceHigh);
            c.m_BytesOut += c.m_RateOut * Real(PaceLow, PaceHigh);
        }
    } else {
        const int64_t busy = std::binomial_distribution<int64_t>(seconds, 1 - IdleChance)(m_Random);
        c.m_BytesIn += c.m_RateIn * PaceSum(busy);
        c.m_BytesOut += c.m_RateOut * PaceSum(busy);
    }
    c.m_Update.m_TrafficIn = Wire32(c.m_BytesIn);
    c.m_Update.m_TrafficOut = Wire32(c.m_BytesOut);
}

// The sum of the pace of some busy seconds in one draw: the sum of many
// uniform draws is close to normal. Kept within what those seconds could give.
double DemoTraffic::PaceSum(int64_t seconds) {
    if (seconds <= 0) {
        return 0;
    }
    const double n = static_cast<double>(seconds);
    const double mean = n * (PaceLow + PaceHigh) / 2;
    const double spread = std::sqrt(n * (PaceHigh - PaceLow) * (PaceHigh - PaceLow) / 12);
    const double sum = std::normal_distribution<double>(mean, spread)(m_Random);
    return std::clamp(sum, n * PaceLow, n * PaceHigh);
}

Body DemoTraffic::UpdateOf(const Connection& c) const {
    return WireUpdate(m_IdHigh, c.m_IdLow, c.m_Update);
}

Body DemoTraffic::ResultOf(const Connection& c) const {
    if (c.m_ResultCode == 0) {
        return WireResult(m_IdHigh, c.m_IdLow, 0, "succeeded");
    }
    for (const Failure& failure : Failures) {
        if (failure.m_Code == c.m_ResultCode) {
            return WireResult(m_IdHigh, c.m_IdLow, failure.m_Code, failure.m_Text);
        }
    }
    return WireResult(m_IdHigh, c.m_IdLow, c.m_ResultCode, "failed");
}

void DemoTraffic::SendResult(Connection& c, std::vector<Body>* records) const {
    c.m_ResultRecord = ResultOf(c);
    if (records) {
        records->push_back(c.m_ResultRecord);
    }
}

void DemoTraffic::AdvanceTo(int64_t now, std::vector<Body>* records,
                            std::vector<DemoClose>* closes) {
    if (now - m_Now > MaxCatchUp) {
        m_Now = now - MaxCatchUp;
    }
    while (m_Now < now) {
        ++m_Now;
        m_pSnapshot.reset();
        Step(m_Now, records, closes);
    }
}

void DemoTraffic::Step(int64_t t, std::vector<Body>* records, std::vector<DemoClose>* closes) {
    // Keep a dozen or two connections going (as many times more as asked
    // for): more arrive when few are active.
    const double active = static_cast<double>(m_Active.size()) / m_Scale;
    const double rate = m_Scale * (active < 10 ? 0.9 : active > 24 ? 0.1 : 0.5);
    const int arriving = std::poisson_distribution<int>(rate)(m_Random);
    for (int i = 0; i < arriving; ++i) {
        OpenFields open;
        Connection c = MakeConnection(t, open);
        c.m_OpenRecord = WireOpen(m_IdHigh, c.m_IdLow, open);
        Move(c, 0);
        if (records) {
            records->push_back(c.m_OpenRecord);
            records->push_back(UpdateOf(c));
        }
        if (c.m_ResultCode == 0) {
            SendResult(c, records);
        }
        m_Active.push_back(c);
    }

    // Closed connections leave in the same pass: the others move down over
    // them, in their order.
    size_t kept = 0;
    for (size_t i = 0; i < m_Active.size(); ++i) {
        Connection& c = m_Active[i];
        Move(c, 1);
        if (c.m_ResultRecord.empty() && t >= c.m_ResultAt) {
            SendResult(c, records);
        }
        if (t >= c.m_End) {
            if (records) {
                records->push_back(UpdateOf(c));
                records->push_back(WireClose(m_IdHigh, c.m_IdLow, static_cast<uint32_t>(t)));
            }
            if (closes) {
                closes->push_back({c.m_IdLow, static_cast<uint32_t>(t)});
            }
            continue;
        }
        if (t >= c.m_NextUpdate) {
            if (records) {
                records->push_back(UpdateOf(c));
            }
            c.m_NextUpdate = t + Uniform(2, 4);
        }
        if (kept != i) {
            m_Active[kept] = std::move(c);
        }
        ++kept;
    }
    m_Active.resize(kept);
}

SharedFrames DemoTraffic::CloseRecords(const std::vector<DemoClose>& closes) const {
    auto frames = std::make_shared<Frames>();
    for (const DemoClose& close : closes) {
        frames->Append(WireClose(m_IdHigh, close.m_IdLow, close.m_EndTime));
    }
    return frames;
}

SharedFrames DemoTraffic::Snapshot() {
    if (m_pSnapshot) {
        return m_pSnapshot;
    }
    auto snapshot = std::make_shared<Frames>();
    // More than the three records of a connection take: only the pages
    // written count as memory.
    snapshot->m_Bytes.reserve(m_Active.size() * 256);
    for (const Connection& c : m_Active) {
        snapshot->Append(c.m_OpenRecord);
        snapshot->Append(UpdateOf(c));
        if (!c.m_ResultRecord.empty()) {
            snapshot->Append(c.m_ResultRecord);
        }
    }
    m_pSnapshot = std::move(snapshot);
    return m_pSnapshot;
}

}  // namespace demo
