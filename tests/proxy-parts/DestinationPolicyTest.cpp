// Where a CONNECT may go: never to the proxy's own listeners, never to this
// machine's private addresses for a client of another machine unless a pass
// rule names them, and the operator's rules in their order.

#include <gtest/gtest.h>

#include "DestinationPolicy.h"
#include "ProxyPartsTest.h"

namespace {
namespace policy_test {

constexpr char Remote[] = "203.0.113.7";
const Refusal OwnListener{RefusedBy::OwnListener, "not allowed: the proxy's own listener"};
const Refusal Private{RefusedBy::PrivateAddress, "not allowed: this machine's private address"};

DestRule MakeRule(int number, bool pass) {
    DestRule rule;
    rule.m_Number = number;
    rule.m_bPass = pass;
    return rule;
}

// Why a connection from `client` to `dest`:`port` is refused; nothing when it may go.
std::optional<Refusal> Verdict(const DestinationPolicy& policy, const std::string& client,
                               const std::string& dest, uint16_t port,
                               const std::vector<DestRule>& rules = {}) {
    return policy.RefuseAddress(rules, {Address(client), "", "", port},
                                asio::ip::make_address(dest));
}

TEST(DestinationPolicyTest, OwnListenersAreRefusedInEveryFormEvenWithAPassRule) {
    DestinationPolicy policy;
    policy.AddOwnListener(tcp::endpoint(asio::ip::make_address("127.0.0.1"), 1080));
    policy.AddOwnListener(tcp::endpoint(asio::ip::make_address("::"), 5051));
    EXPECT_EQ(Verdict(policy, "127.0.0.1", "127.0.0.1", 1080), OwnListener);
    EXPECT_EQ(Verdict(policy, "127.0.0.1", "::ffff:127.0.0.1", 1080), OwnListener);
    EXPECT_EQ(Verdict(policy, "127.0.0.1", "127.0.0.2", 1080), std::nullopt);
    EXPECT_EQ(Verdict(policy, "127.0.0.1", "127.0.0.1", 1081), std::nullopt);
    // A listener on "::" is reached through every address of this machine.
    for (const char* dest : {"127.0.0.9", "::1", "0.0.0.0", "::", "::ffff:127.0.0.1"}) {
        EXPECT_EQ(Verdict(policy, "127.0.0.1", dest, 5051), OwnListener) << dest;
    }
    DestRule pass = MakeRule(1, true);
    pass.m_To = {*Cidr::Parse("127.0.0.0/8")};
    EXPECT_EQ(Verdict(policy, Remote, "127.0.0.1", 1080, {pass}), OwnListener);
}

TEST(DestinationPolicyTest, PrivateAddressesAreForThisMachinesClientsOnly) {
    const DestinationPolicy policy;
    for (const char* dest : {"127.0.0.1", "127.255.0.1", "::1", "::ffff:127.0.0.1", "169.254.1.1",
                             "fe80::1", "0.0.0.0", "0.1.2.3", "::"}) {
        EXPECT_EQ(Verdict(policy, Remote, dest, 80), Private) << dest;
        EXPECT_EQ(Verdict(policy, "2001:db8::5", dest, 80), Private) << dest;
        EXPECT_EQ(Verdict(policy, "127.0.0.1", dest, 80), std::nullopt) << dest;
        EXPECT_EQ(Verdict(policy, "::1", dest, 80), std::nullopt) << dest;
    }
    EXPECT_EQ(Verdict(policy, Remote, "198.51.100.1", 80), std::nullopt);
    EXPECT_EQ(Verdict(policy, Remote, "2001:db8::1", 80), std::nullopt);
}

TEST(DestinationPolicyTest, TheFirstMatchingRuleDecidesAndOnlyANamedBlockOpensPrivateOnes) {
    const DestinationPolicy policy;
    DestRule blockNet = MakeRule(1, false);
    blockNet.m_To = {*Cidr::Parse("198.51.100.0/24")};
    DestRule passLoopback = MakeRule(2, true);
    passLoopback.m_To = {*Cidr::Parse("127.0.0.0/8")};
    passLoopback.m_Ports = {{8080, 8080}};
    DestRule passWeb = MakeRule(3, true);
    passWeb.m_Ports = {{80, 80}};
    const std::vector<DestRule> rules = {blockNet, passLoopback, passWeb};
    const Refusal byRule1{RefusedBy::Rule, "not allowed by rule 1"};
    EXPECT_EQ(Verdict(policy, Remote, "198.51.100.1", 80, rules), byRule1);
    EXPECT_EQ(Verdict(policy, Remote, "127.0.0.1", 8080, rules), std::nullopt);
    EXPECT_EQ(Verdict(policy, Remote, "127.0.0.1", 80, rules), Private);
    EXPECT_EQ(Verdict(policy, Remote, "192.0.2.1", 80, rules), std::nullopt);

    // Names: decided before the lookup only when no earlier rule needs the address.
    DestRule blockName = MakeRule(1, false);
    blockName.m_Names = {"blocked.example"};
    const auto byName = [&](const std::vector<DestRule>& list, const std::string& name) {
        return policy.RefuseName(list, {Address(Remote), "", name, 443});
    };
    EXPECT_EQ(byName({blockName}, "www.Blocked.example."), byRule1);
    EXPECT_FALSE(byName({blockName}, "notblocked.example"));
    blockName.m_Number = 2;
    EXPECT_FALSE(byName({blockNet, blockName}, "blocked.example"));
}

// A pass rule keeps its effect; the load only says when it opens this machine.
TEST(DestinationPolicyTest, PassRulesThatTakeInPrivateBlocksAreNamedAtLoad) {
    const auto rule = [](int number, bool pass, std::vector<const char*> to) {
        DestRule made = MakeRule(number, pass);
        for (const char* block : to) made.m_To.push_back(*Cidr::Parse(block));
        return made;
    };
    const std::vector<DestRule> rules = {
        rule(1, true, {"0.0.0.0/0", "::/0"}),
        rule(2, true, {"192.168.0.0/16"}),
        rule(3, false, {"0.0.0.0/0"}),
        rule(4, true, {}),
        rule(5, true, {"10.0.0.0/8", "::/0"}),
        rule(6, true, {"169.254.10.0/24"}),
        rule(7, true, {"fe80::1"}),
        rule(8, true, {"126.0.0.0/7"}),
        rule(9, true, {"192.0.0.0/2", "::2/127"}),
        rule(10, true, {"::/128"}),
    };
    std::vector<std::string> named;
    for (const std::string& warning : PrivatePassWarnings(rules)) {
        named.push_back(warning.substr(0, warning.find(" lets ")));
    }
    EXPECT_EQ(named, (std::vector<std::string>{"rule 1", "rule 5", "rule 6", "rule 7", "rule 8",
                                               "rule 10"}));
    EXPECT_EQ(PrivatePassWarnings({rules[0]}).front(),
              "rule 1 lets clients of other machines reach this machine's loopback and "
              "link-local addresses: its \"to\" takes them in");
}

}  // namespace policy_test
}  // namespace
