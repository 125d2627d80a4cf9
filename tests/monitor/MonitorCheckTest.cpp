// vgl-monitor --check: each broken rule named with its record, and our own
// monitors clean.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ProxyHarness.h"
#include "support/BrokenMonitor.h"

namespace {

ProgramResult Check(const std::string& host, const std::string& polls = "2") {
    return RunProgram({VGL_MONITOR_BINARY, "--check", host, "--polls", polls, "--period", "0"});
}

struct CheckCase {
    BrokenMonitor::Fault m_Fault;
    const char* m_Finding;  // empty: clean
};

class MonitorCheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(MonitorCheckTest, NamesTheRecordThatBreaksARule) {
    BrokenMonitor monitor(GetParam().m_Fault);
    const ProgramResult result = Check(monitor.Host());
    const std::string finding = GetParam().m_Finding;
    if (finding.empty()) {
        EXPECT_EQ(result.m_Status, 0) << result.m_Out;
        EXPECT_NE(result.m_Out.find("2 polls, 5 records, 0 problems"), std::string::npos)
            << result.m_Out;
    } else {
        EXPECT_EQ(result.m_Status, 1) << result.m_Out;
        EXPECT_NE(result.m_Out.find(finding), std::string::npos) << result.m_Out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MonitorCheckTest,
    ::testing::Values(
        CheckCase{BrokenMonitor::Fault::None, ""},
        CheckCase{BrokenMonitor::Fault::RefOutsideBody,
                  "poll 1, record 1 (open 7:1): user name bytes 200-205 lie outside"},
        CheckCase{BrokenMonitor::Fault::CloseWithoutOpen,
                  "poll 2, record 4 (close 7:19): no open came before it"},
        CheckCase{BrokenMonitor::Fault::TotalsGoDown,
                  "poll 2, record 1 (update 7:1): total in went down from 1200 to 1100"},
        CheckCase{BrokenMonitor::Fault::ControlText,
                  "poll 2, record 2 (result 7:1): result text holds control characters"}));

TEST(MonitorCheckOursTest, VglProxyAndTheDemoMonitorAreClean) {
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    const std::string webHost = RandomLoopbackHost();
    LocalHttpServer web(webHost, 0);
    RunCurl({"--socks5", proxy.Proxy(), "-o", "/dev/null",
             "http://" + webHost + ":" + std::to_string(web.Port()) + "/5000"});
    RunCurl({"--socks5", proxy.Proxy(), "http://" + webHost + ":1/"});
    ProgramResult result = Check(proxy.Host());
    EXPECT_EQ(result.m_Status, 0) << result.m_Out;

#ifdef VGL_DEMO_MONITOR_BINARY
    // A busy demo's first answer is megabytes, written in many pieces: each
    // active connection in it once and whole. Only that answer is checked:
    // what a later one holds depends on how long the checker took between.
    for (const std::string connections : {"17", "100000"}) {
        const std::string demoHost = RandomLoopbackHost();
        ServerProcess demo;
        // It says where it serves on standard output, which the process does not collect.
        demo.Start({VGL_DEMO_MONITOR_BINARY, "--listen", demoHost, "--connections", connections},
                   "");
        for (int tries = 0; tries < 500 && !RawClient(demoHost, 5051).Connected(); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        result = Check(demoHost, connections == "17" ? "2" : "1");
        EXPECT_EQ(result.m_Status, 0) << connections << ": " << result.m_Out;
    }
#endif
}

}  // namespace
