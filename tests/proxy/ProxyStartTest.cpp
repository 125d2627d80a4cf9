// Starting and stopping vgl-proxy: refusals at start with status 1 and a
// message, and a clean stop with status 0 while a connection is relaying.

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "ProxyHarness.h"

namespace {

ProgramResult RunProxy(const std::vector<std::string>& options) {
    std::vector<std::string> argv = {VGL_PROXY_BINARY};
    argv.insert(argv.end(), options.begin(), options.end());
    return RunProgram(argv);
}

TEST(ProxyStartTest, WrongOptionsAndPlainPasswordsStopTheStartWithAMessage) {
    const std::string host = RandomLoopbackHost();
    const std::string listen = host + ":1080";
    struct Case {
        std::vector<std::string> m_Options;
        std::string m_Message;
    };
    char path[] = "/tmp/vgl-proxy-users-XXXXXX";
    const int fd = mkstemp(path);
    const std::string users =
        "alice:$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C\n"
        "bob:hunter2\n";
    ASSERT_EQ(write(fd, users.data(), users.size()), static_cast<ssize_t>(users.size()));
    close(fd);
    const Case cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--listen", "127.0.0.1"}, "bad value for --listen"},
        {{"--allow", "10.0.0.0/33"}, "bad value for --allow"},
        {{"--max-connections", "0"}, "bad value for --max-connections"},
        {{"--threads"}, "option --threads needs a value"},
        {{"--listen", listen, "--monitor", host, "--users", path},
         std::string(path) + ":2: the password of \"bob\" is not a crypt(3) hash"},
        {{"--listen", listen, "--monitor", host, "--users", "/nonexistent/users"},
         "/nonexistent/users: cannot be read"},
    };
    for (const Case& c : cases) {
        const ProgramResult result = RunProxy(c.m_Options);
        EXPECT_EQ(result.m_Status, 1) << c.m_Message;
        EXPECT_NE(result.m_Err.find(c.m_Message), std::string::npos) << result.m_Err;
    }
    std::remove(path);
}

TEST(ProxyStartTest, TakenPortsStopTheStart) {
    ProxyProcess first;
    ASSERT_TRUE(first.Started()) << first.Log();
    const ProgramResult proxyTaken =
        RunProxy({"--listen", first.Proxy(), "--monitor", RandomLoopbackHost()});
    EXPECT_EQ(proxyTaken.m_Status, 1);
    EXPECT_NE(proxyTaken.m_Err.find("cannot listen on " + first.Proxy()), std::string::npos)
        << proxyTaken.m_Err;
    const ProgramResult monitorTaken =
        RunProxy({"--listen", RandomLoopbackHost() + ":1080", "--monitor", first.Host()});
    EXPECT_EQ(monitorTaken.m_Status, 1);
    EXPECT_NE(monitorTaken.m_Err.find("cannot listen on " + first.Host() + ":5051"),
              std::string::npos)
        << monitorTaken.m_Err;
}

TEST(ProxyStartTest, TermAndIntStopItWithStatusZeroWhileConnectionsAreOpen) {
    for (const int signal : {SIGTERM, SIGINT}) {
        const std::string webHost = RandomLoopbackHost();
        LocalHttpServer web(webHost, 0);
        ProxyProcess proxy;
        ASSERT_TRUE(proxy.Started()) << proxy.Log();
        RawClient relaying(proxy.Host(), ProxyProcess::Port);
        relaying.Send({0x05, 0x01, 0x00});
        relaying.Send(ConnectRequest(webHost, web.Port()));
        ASSERT_EQ(relaying.Read(12).size(), 12u);
        RawClient greeting(proxy.Host(), ProxyProcess::Port);
        greeting.Send({0x05, 0x01, 0x00});
        ASSERT_EQ(greeting.Read(2).size(), 2u);
        EXPECT_EQ(proxy.Stop(signal), 0) << proxy.Log();
        EXPECT_TRUE(relaying.Closed());
    }
}

}  // namespace
