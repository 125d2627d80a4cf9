// The metrics: checked by Prometheus's own promtool, and scraped by a real
// Prometheus on loopback, whose HTTP API then gives a counter back.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ProxyHarness.h"
#include "support/TempFolder.h"

namespace {
// Named too: the test files are compiled as one.
namespace metrics_test {

constexpr char Promtool[] = "/usr/bin/promtool";
constexpr char Prometheus[] = "/usr/bin/prometheus";

std::string Scrape(const std::string& url) {
    return RunCurl({url}).m_Out;
}

TEST(ProxyMetricsTest, TheExpositionPassesPromtoolAndAPrometheusReadsItsCounters) {
    if (access(Promtool, X_OK) != 0 || access(Prometheus, X_OK) != 0) {
        GTEST_SKIP() << "needs Debian's prometheus package";
    }
    const std::string webHost = RandomLoopbackHost();
    LocalHttpServer web(webHost, 1525);
    const std::string host = RandomLoopbackHost();
    ProxyProcess proxy({"--metrics", host + ":9151"}, {}, host);
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    const std::string url = "http://" + webHost + ":1525/";
    ASSERT_EQ(RunCurl({"--socks5", proxy.Proxy(), url + "1000"}).m_Status, 0);
    EXPECT_NE(RunCurl({"--socks5", proxy.Proxy(), "http://" + host + ":9151/metrics"}).m_Status, 0);
    ASSERT_TRUE(proxy.WaitForLog(" time=", 2));

    const std::string metrics = Scrape("http://" + host + ":9151/metrics");
    EXPECT_NE(metrics.find("vgl_proxy_connections_opened_total{result=\"succeeded\"} 1\n"),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("vgl_proxy_refused_total{by=\"own_listener\"} 1\n"), std::string::npos);
    EXPECT_NE(metrics.find("vgl_proxy_bytes_in_total{user=\"-\",service=\"archie\"} " +
                           std::to_string(LocalHttpServer::ReplyBytes(1000)) + "\n"),
              std::string::npos);
    const std::string file =
        std::filesystem::temp_directory_path() / ("vgl-proxy-metrics-" + std::to_string(getpid()));
    std::ofstream(file) << metrics;
    const ProgramResult check =
        RunProgram({"/bin/sh", "-c", std::string(Promtool) + " check metrics < " + file});
    EXPECT_EQ(check.m_Status, 0) << check.m_Out << check.m_Err;
    std::remove(file.c_str());
    EXPECT_EQ(RunCurl({"--fail", "http://" + host + ":9151/other"}).m_Status, 22);  // 404

    // A real Prometheus scrapes it every second.
    const TempFolder temp;
    const std::filesystem::path folder = temp.Path();
    std::ofstream(folder / "prometheus.yml")
        << "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: vgl-proxy\n"
           "    static_configs:\n      - targets: ['"
        << host << ":9151']\n";
    const std::string api = host + ":9090";
    const pid_t server = fork();
    if (server == 0) {
        const std::string config = "--config.file=" + (folder / "prometheus.yml").string();
        const std::string storage = "--storage.tsdb.path=" + (folder / "data").string();
        const std::string listen = "--web.listen-address=" + api;
        if (freopen("/dev/null", "w", stderr) == nullptr) _exit(127);
        execl(Prometheus, Prometheus, config.c_str(), storage.c_str(), listen.c_str(), nullptr);
        _exit(127);
    }
    // Waits for the answer, not for a time: the deadline only bounds a failure.
    const std::string query =
        "http://" + api +
        "/api/v1/query?query=vgl_proxy_connections_opened_total%7Bresult%3D%22succeeded%22%7D";
    std::string answer;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (answer.find("\"value\"") == std::string::npos &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        answer = Scrape(query);
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    EXPECT_NE(answer.find("\"job\":\"vgl-proxy\""), std::string::npos) << answer;
    EXPECT_NE(answer.find(",\"1\"]"), std::string::npos) << answer;
}

// The metrics port answers only its allowed clients, and only so many at once.
TEST(ProxyMetricsTest, OnlyAllowedClientsUpToTheCapAreServed) {
    const std::string host = RandomLoopbackHost();
    ProxyProcess proxy(
        {"--metrics", host + ":9151", "--metrics-allow", "127.0.0.2", "--max-metrics-clients", "2"},
        {}, host);
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    const std::string head = "GET /metrics HTTP/1.0\r\n";
    RawClient outside(host, 9151, "127.0.0.3");
    outside.Send(Bytes(head.begin(), head.end()));
    EXPECT_TRUE(outside.Closed());
    EXPECT_TRUE(proxy.WaitForLog("metrics client 127.0.0.3:")) << proxy.Log();
    EXPECT_NE(proxy.Log().find(" refused: not in --metrics-allow"), std::string::npos);

    // Two requests halfway hold both places; a third client is closed at once.
    std::vector<RawClient> held;
    for (int i = 0; i < 2; ++i) {
        held.emplace_back(host, 9151, "127.0.0.2");
        ASSERT_TRUE(held.back().Send(Bytes(head.begin(), head.end())));
    }
    RawClient third(host, 9151, "127.0.0.2");
    EXPECT_TRUE(third.Closed());
    EXPECT_TRUE(
        proxy.WaitForLog("refused: 2 metrics clients already connected "
                         "(--max-metrics-clients)"))
        << proxy.Log();
    const std::string ok = "HTTP/1.1 200 OK";
    for (RawClient& client : held) {
        ASSERT_TRUE(client.Send({'\r', '\n'}));
        const Bytes reply = client.Read(ok.size());
        EXPECT_EQ(std::string(reply.begin(), reply.end()), ok);
    }
}

}  // namespace metrics_test
}  // namespace
