// The metrics of a proxy that has seen nothing yet: every counter and its
// known labels at 0, and HEAD answered as GET without the body.

#include <gtest/gtest.h>

#include <string>

#include "ProxyHarness.h"

TEST(MetricsZeroTest, EveryKnownCounterIsThereAtZeroAndHeadAnswersWithoutABody) {
    const std::string host = RandomLoopbackHost();
    ProxyProcess proxy({"--metrics", host + ":9152"}, {}, host);
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    const std::string url = "http://" + host + ":9152/metrics";
    const std::string metrics = RunCurl({url}).m_Out;
    for (const char* line : {"vgl_proxy_connections_opened_total{result=\"succeeded\"} 0",
                             "vgl_proxy_connections_opened_total{result=\"host_unreachable\"} 0",
                             "vgl_proxy_handshake_failures_total{reason=\"timeout\"} 0",
                             "vgl_proxy_handshake_failures_total{reason=\"authentication\"} 0",
                             "vgl_proxy_refused_total{by=\"rule\"} 0",
                             "vgl_proxy_lookups_total{result=\"failed\"} 0"})
        EXPECT_NE(metrics.find(std::string("\n") + line + "\n"), std::string::npos) << line;

    const ProgramResult head = RunCurl({"--head", "--fail", url});
    EXPECT_EQ(head.m_Status, 0) << head.m_Err;
    EXPECT_NE(head.m_Out.find("HTTP/1.1 200 OK"), std::string::npos) << head.m_Out;
    EXPECT_NE(head.m_Out.find("Content-Length: "), std::string::npos);
    EXPECT_EQ(head.m_Out.find("# HELP"), std::string::npos);
    EXPECT_EQ(RunCurl({"--head", "--fail", "http://" + host + ":9152/other"}).m_Status, 22);
}
