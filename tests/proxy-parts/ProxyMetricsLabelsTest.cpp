// The metrics' label sets stay bounded however many users relay: the listed
// users, or else the first ones seen, and "other" for everyone else.

#include <gtest/gtest.h>

#include "ProxyMetrics.h"

namespace {
namespace metrics_labels_test {

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(ProxyMetricsLabelsTest, UsersPastTheListOrTheFirstOnesSeenCountAsOther) {
    ProxyMetrics listed;
    const std::vector<std::string> names = {"alice", "bob"};
    for (const char* user : {"alice", "bob", "carol", "dave"}) {
        listed.TrafficOf(user, "archie", names).m_In += 10;
    }
    listed.TrafficOf("eve", "archie", names).m_In += 5;
    const std::string text = listed.Text(0, 0);
    EXPECT_NE(text.find("vgl_proxy_bytes_in_total{user=\"alice\",service=\"archie\"} 10\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("vgl_proxy_bytes_in_total{user=\"other\",service=\"archie\"} 25\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(CountOf(text, "vgl_proxy_bytes_in_total{"), 3u);

    ProxyMetrics firstSeen;
    const size_t users = ProxyMetrics::UserLimit + 5;
    for (size_t i = 0; i < users; ++i) {
        firstSeen.TrafficOf("user" + std::to_string(i), "archie").m_Out += 1;
    }
    firstSeen.TrafficOf("user0", "archie").m_Out += 1;  // seen first: keeps its label
    const std::string bounded = firstSeen.Text(0, 0);
    EXPECT_EQ(CountOf(bounded, "vgl_proxy_bytes_out_total{"), ProxyMetrics::UserLimit + 1);
    EXPECT_NE(bounded.find("{user=\"user0\",service=\"archie\"} 2\n"), std::string::npos);
    EXPECT_NE(bounded.find("{user=\"other\",service=\"archie\"} 5\n"), std::string::npos);
}

}  // namespace metrics_labels_test
}  // namespace
