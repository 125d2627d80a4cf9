// Where a CONNECT may go: the proxy's own listeners in every form, this
// machine's private addresses for a client of another machine (a second
// network namespace), and the operator's rules, each refusal with reply 0x02
// and a failed entry in VGL's own table.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "ProxyHarness.h"
#include "core/table/EntryObj.h"
#include "core/table/PMCTable.h"

namespace {
// Named too: the test files are compiled as one.
namespace rules_test {

const Bytes Greeting = {0x05, 0x01, 0x00};

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The request for an IPv4 address written as IPv4-mapped IPv6.
Bytes MappedRequest(const std::string& ipv4, uint16_t port) {
    const Bytes v4 = ConnectRequest(ipv4, port);
    Bytes request(22, 0);
    request[0] = 0x05;
    request[1] = 0x01;
    request[3] = 0x04;
    request[14] = request[15] = 0xFF;
    std::copy(v4.begin() + 4, v4.end(), request.begin() + 16);
    return request;
}

uint8_t ReplyCode(std::optional<RawClient> client, const Bytes& request) {
    if (!client || !client->Send(Concat(Greeting, request))) return 0xEE;
    const Bytes reply = client->Read(12);
    return reply.size() >= 4 ? reply[3] : 0xEE;
}

TEST(ProxyRulesTest, OwnListenersPrivateAddressesAndBlockedNamesAreRefused) {
    NamespacePair net;
    if (!net.Ready()) GTEST_SKIP() << "network namespaces cannot be made here";
    const std::string& inside = net.ProxySide();
    const std::string& outside = net.ClientSide();
    // A service of the proxy's machine that listens on loopback only, and one beyond the cable.
    auto privateWeb =
        net.In(inside, [] { return std::make_unique<LocalHttpServer>("127.0.0.1", 0); });
    auto publicWeb = net.In(
        outside, [] { return std::make_unique<LocalHttpServer>(NamespacePair::ClientAddress, 0); });
    ASSERT_TRUE(privateWeb && publicWeb);
    const uint16_t privatePort = (*privateWeb)->Port();
    ProxyProcess proxy(
        {"--allow", "10.200.0.0/24", "--allow", "127.0.0.0/8", "--block", "blocked.example"},
        {"/usr/sbin/ip", "netns", "exec", inside}, "0.0.0.0");
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    PMCTable table;
    ASSERT_TRUE(net.In(inside, [&] { return table.CreateConnection("127.0.0.1"), true; }));
    // A first answer: the monitor now collects for the table, so no refusal passes unseen.
    ASSERT_GE(net.In(inside, [&] { return table.Poll(); }).value_or(-1), 0);

    const auto local = [&] { return net.In(inside, [] { return RawClient("127.0.0.1", 1080); }); };
    const auto remote = [&] {
        return net.In(outside, [] { return RawClient(NamespacePair::ProxyAddress, 1080); });
    };
    // Its own listeners on 0.0.0.0, through every address and form, even for its own machine.
    EXPECT_EQ(ReplyCode(local(), ConnectRequest("127.0.0.1", 1080)), 0x02);
    EXPECT_EQ(ReplyCode(local(), ConnectRequest("127.0.0.9", 5051)), 0x02);
    EXPECT_EQ(ReplyCode(local(), ConnectRequest(NamespacePair::ProxyAddress, 1080)), 0x02);
    EXPECT_EQ(ReplyCode(local(), MappedRequest(NamespacePair::ProxyAddress, 5051)), 0x02);
    EXPECT_EQ(ReplyCode(remote(), MappedRequest("127.0.0.1", 1080)), 0x02);
    // This machine's private services: for its own clients only.
    EXPECT_EQ(ReplyCode(local(), ConnectRequest("127.0.0.1", privatePort)), 0x00);
    EXPECT_EQ(ReplyCode(remote(), ConnectRequest("127.0.0.1", privatePort)), 0x02);
    EXPECT_EQ(ReplyCode(remote(), MappedRequest("127.0.0.1", privatePort)), 0x02);
    EXPECT_EQ(ReplyCode(remote(), ConnectByName("localhost", privatePort)), 0x02);
    EXPECT_EQ(ReplyCode(remote(), ConnectRequest("169.254.1.1", 80)), 0x02);
    EXPECT_EQ(ReplyCode(remote(), ConnectRequest("0.0.0.0", privatePort)), 0x02);
    // The operator's rule, before any lookup; and an ordinary destination.
    EXPECT_EQ(ReplyCode(remote(), ConnectByName("www.Blocked.example", 80)), 0x02);
    EXPECT_EQ(
        ReplyCode(remote(), ConnectRequest(NamespacePair::ClientAddress, (*publicWeb)->Port())),
        0x00);

    ASSERT_TRUE(proxy.WaitForLog(" time=", 13)) << proxy.Log();
    EXPECT_NE(proxy.Log().find("result=\"not allowed by rule 1\""), std::string::npos);
    table.SetShowActive(false);
    ASSERT_GE(net.In(inside, [&] { return table.Poll(); }).value_or(-1), 0);
    ASSERT_EQ(table.FailedCount(), 11u);
    std::vector<std::string> texts;
    for (size_t row = 1; row <= table.FailedCount(); ++row) {
        const EntryObj* entry = table.DisplayEntry(static_cast<int>(row));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->m_FailureCode, 2);
        texts.push_back(entry->m_ResultText);
    }
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "not allowed: the proxy's own listener"), 5);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "not allowed by rule 1"), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "not allowed: this machine's private address"),
              4);
}

// An address the proxy's machine gains after the start is one of its own at
// once; and a destination that leads back to a listener through an address
// it cannot know (a local route for a whole block) is caught at the listener.
TEST(ProxyRulesTest, NoLoopThroughAnAddressGainedAfterTheStartOrALocalRoute) {
    NamespacePair net;
    if (!net.Ready()) GTEST_SKIP() << "network namespaces cannot be made here";
    const std::string& inside = net.ProxySide();
    auto privateWeb =
        net.In(inside, [] { return std::make_unique<LocalHttpServer>("127.0.0.1", 0); });
    ASSERT_TRUE(privateWeb);
    ProxyProcess proxy({"--allow", "10.0.0.0/8"}, {"/usr/sbin/ip", "netns", "exec", inside},
                       "0.0.0.0");
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    const auto remote = [&] {
        return net.In(net.ClientSide(),
                      [] { return RawClient(NamespacePair::ProxyAddress, 1080); });
    };
    ASSERT_EQ(
        RunProgram({"/usr/sbin/ip", "-n", inside, "addr", "add", "10.200.0.7/32", "dev", "lo"})
            .m_Status,
        0);
    ASSERT_TRUE(proxy.WaitForLog("addresses changed: added 10.200.0.7")) << proxy.Log();
    EXPECT_EQ(ReplyCode(remote(), ConnectRequest("10.200.0.7", 1080)), 0x02);

    ASSERT_EQ(RunProgram({"/usr/sbin/ip", "-n", inside, "route", "add", "local", "10.201.0.0/24",
                          "dev", "lo"})
                  .m_Status,
              0);
    ASSERT_EQ(ReplyCode(remote(), ConnectRequest("10.201.0.5", 1080)), 0x00);
    // The hop inside it is refused before it is answered.
    std::optional<RawClient> outer = remote();
    ASSERT_TRUE(outer && outer->Send(Concat(Greeting, ConnectRequest("10.201.0.5", 1080))));
    ASSERT_EQ(outer->Read(12).size(), 12u);
    ASSERT_TRUE(outer->Send(Concat(Greeting, ConnectRequest("127.0.0.1", (*privateWeb)->Port()))));
    EXPECT_TRUE(outer->Read(2).empty());
    EXPECT_TRUE(proxy.WaitForLog("result=\"refused: a connection of the proxy itself\""));
}

}  // namespace rules_test
}  // namespace
