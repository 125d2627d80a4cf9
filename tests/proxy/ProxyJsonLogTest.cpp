// vgl-proxy --log-format json read back by a real JSON parser: every line of
// its standard error is one object, and a connection's object has its values.

#include <gtest/gtest.h>

#include <cstdio>

#include "ProxyHarness.h"

namespace {
namespace json_log_test {

// Fails on the first line that is not a JSON object; prints each connection's
// fields as KEY=JSON, the duration and the time by their form.
constexpr char ReadBack[] = R"(
import json, re, sys
for line in open(sys.argv[1], encoding="utf-8"):
    entry = json.loads(line)
    assert isinstance(entry, dict) and {"time", "level", "message"} <= entry.keys(), line
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", entry["time"]), line
    if entry["message"] == "connection":
        for key in ("level", "client", "user", "destination", "destination_port",
                    "bytes_in", "bytes_out", "result"):
            print(key + "=" + json.dumps(entry[key]))
        print("client_port_ok=" + str(isinstance(entry["client_port"], int) and entry["client_port"] > 0))
        print("duration_ok=" + str(isinstance(entry["duration"], float) and entry["duration"] >= 0))
)";

TEST(ProxyJsonLogTest, EveryLineIsJsonAndTheConnectionHasItsFields) {
    const std::string webHost = RandomLoopbackHost();
    LocalHttpServer web(webHost, 0);
    ASSERT_NE(web.Port(), 0);
    ProxyProcess proxy({"--log-format", "json"});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    const std::string url = "http://" + webHost + ":" + std::to_string(web.Port()) + "/2000";
    const ProgramResult curl = RunCurl({"--socks5", proxy.Proxy(), url});
    ASSERT_EQ(curl.m_Status, 0) << curl.m_Err;
    ASSERT_TRUE(proxy.WaitForLog("\"result\":")) << proxy.Log();
    ASSERT_EQ(proxy.Stop(), 0);

    const std::string log = WriteFile(proxy.Log());
    const ProgramResult read = RunProgram({"/usr/bin/env", "python3", "-c", ReadBack, log});
    std::remove(log.c_str());
    ASSERT_EQ(read.m_Status, 0) << read.m_Err << proxy.Log();
    EXPECT_EQ(read.m_Out,
              "level=\"info\"\nclient=\"127.0.0.1\"\nuser=null\n"
              "destination=\"" +
                  webHost + "\"\ndestination_port=" + std::to_string(web.Port()) +
                  "\nbytes_in=" + std::to_string(LocalHttpServer::ReplyBytes(2000)) +
                  "\nbytes_out=" + std::to_string(web.LastRequestBytes()) +
                  "\nresult=\"succeeded\"\nclient_port_ok=True\nduration_ok=True\n");
}

}  // namespace json_log_test
}  // namespace
