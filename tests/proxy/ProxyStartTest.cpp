// Starting and stopping vgl-proxy: refusals at start with status 1 and a
// message, and a clean stop with status 0 while a connection is relaying.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

#include "ProxyHarness.h"
#include "core/monitor/MonStream.h"
#include "support/TempFolder.h"

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
    const std::string twice = WriteFile(
        "alice:$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C\n\n"
        "alice:$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C\n");
    const std::string badToml = WriteFile("listen = \"127.0.0.1:1080\"\nallow = [\"10.0.0.0/8\"\n");
    const std::string badRule = WriteFile("[[rule]]\naction = \"block\"\nports = \"90-80\"\n");
    const std::string badKey = WriteFile("idle_timeout = 0\n");
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
        {{"--listen", listen, "--monitor", host, "--users", twice},
         twice + ":3: \"alice\" is listed again (first on line 1)"},
        {{"--config", badToml}, badToml + ":2: "},
        {{"--config", badRule}, badRule + ":1: rule 1: \"90-80\" is not a port"},
        {{"--config", badKey}, badKey + ":1: bad value for --idle-timeout: \"0\""},
        {{"--config", "/nonexistent/vgl-proxy.conf"},
         "/nonexistent/vgl-proxy.conf: cannot be read"},
    };
    for (const Case& c : cases) {
        const ProgramResult result = RunProxy(c.m_Options);
        EXPECT_EQ(result.m_Status, 1) << c.m_Message;
        EXPECT_NE(result.m_Err.find(c.m_Message), std::string::npos) << result.m_Err;
    }
    for (const std::string& file : {std::string(path), twice, badToml, badRule, badKey})
        std::remove(file.c_str());
    const ProgramResult version = RunProxy({"--version"});
    EXPECT_EQ(version.m_Status, 0);
    EXPECT_EQ(version.m_Out, "vgl-proxy " VGL_VERSION "\n");
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

namespace start_test {

const Bytes Greeting = {0x05, 0x01, 0x00};

// Asks the monitor once and gives the kinds of the records of the batch.
std::vector<uint32_t> RecordKinds(RawClient& monitor) {
    std::vector<uint32_t> kinds;
    if (!monitor.Send({0x00, 0x01, 0x00})) return kinds;
    for (;;) {
        const Bytes length = monitor.Read(2);
        const uint16_t size =
            length.size() == 2 ? static_cast<uint16_t>(length[0] << 8 | length[1]) : 0;
        if (size == 0) return kinds;
        const Bytes body = monitor.Read(size);
        MonitorRecord record{};
        if (body.size() != size || Mon_Decode(size, body.data(), &record) != 0) return kinds;
        kinds.push_back(record.m_Kind);
    }
}

TEST(ProxyStartTest, HangUpReloadsTheRulesAndKeepsConnectionsOpen) {
    const std::string webHost = RandomLoopbackHost();
    LocalHttpServer web(webHost, 0);
    const std::string config = WriteFile("# nothing blocked yet\n");
    ProxyProcess proxy({"--config", config});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    RawClient kept(proxy.Host(), ProxyProcess::Port);
    ASSERT_TRUE(kept.Send(Greeting));
    ASSERT_TRUE(kept.Send(ConnectRequest(webHost, web.Port())));
    ASSERT_EQ(kept.Read(12).size(), 12u);

    std::ofstream(config) << "[[rule]]\naction = \"block\"\nto = \"" << webHost << "\"\n";
    kill(proxy.Pid(), SIGHUP);
    ASSERT_TRUE(proxy.WaitForLog("configuration reloaded")) << proxy.Log();
    RawClient refused(proxy.Host(), ProxyProcess::Port);
    refused.Send(Greeting);
    refused.Send(ConnectRequest(webHost, web.Port()));
    EXPECT_EQ(refused.Read(12).size(), 12u);
    EXPECT_TRUE(proxy.WaitForLog("result=\"not allowed by rule 1\""));
    // A file that does not load leaves the rules as they were.
    std::ofstream(config) << "[[rule]]\naction = \"maybe\"\n";
    kill(proxy.Pid(), SIGHUP);
    ASSERT_TRUE(proxy.WaitForLog("reload failed, the previous configuration stays: " + config +
                                 ":1: rule 1: action must be"))
        << proxy.Log();
    RawClient stillRefused(proxy.Host(), ProxyProcess::Port);
    stillRefused.Send(Greeting);
    stillRefused.Send(ConnectRequest(webHost, web.Port()));
    const Bytes reply = stillRefused.Read(12);
    ASSERT_GE(reply.size(), 4u);
    EXPECT_EQ(reply[3], 0x02);
    // The connection from before the reload still relays.
    const std::string get = "GET /10 HTTP/1.0\r\n\r\n";
    ASSERT_TRUE(kept.Send(Bytes(get.begin(), get.end())));
    EXPECT_EQ(kept.Read(LocalHttpServer::ReplyBytes(10) + 1).size(),
              LocalHttpServer::ReplyBytes(10));
    EXPECT_EQ(proxy.Stop(SIGTERM), 0);
    std::remove(config.c_str());
}

// The reply to a login with the password "secret".
Bytes LogIn(const std::string& host, const std::string& user) {
    RawClient client(host, ProxyProcess::Port);
    client.Send({0x05, 0x01, 0x02});
    if (client.Read(2) != Bytes{0x05, 0x02}) return {};
    client.Send(Login(user, "secret"));
    return client.Read(2);
}

// The users file is a pipe here, so that the reload waits for it as long as
// the test likes: clients are served all the while (one I/O thread only),
// by the users they had, until the new ones are read.
TEST(ProxyStartTest, AReloadReadsTheUsersFileAsideWhileClientsAreServed) {
    const std::string hash =
        "$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C";
    std::string users = "alice:" + hash + "\n";
    for (int i = 0; i < 300; ++i) users += "user" + std::to_string(i) + ":" + hash + "\n";
    const std::string fifo = WriteFile("");
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(fifo) << users; });
    ProxyProcess proxy({"--users", fifo, "--threads", "1"});
    writer.join();
    ASSERT_TRUE(proxy.Started()) << proxy.Log();

    kill(proxy.Pid(), SIGHUP);
    EXPECT_EQ(LogIn(proxy.Host(), "alice"), (Bytes{0x01, 0x00}));
    EXPECT_EQ(LogIn(proxy.Host(), "bob"), (Bytes{0x01, 0x01}));
    EXPECT_EQ(proxy.Log().find("configuration reloaded"), std::string::npos);
    std::ofstream(fifo) << users << "bob:" << hash << "\n";
    ASSERT_TRUE(proxy.WaitForLog("configuration reloaded")) << proxy.Log();
    EXPECT_EQ(LogIn(proxy.Host(), "bob"), (Bytes{0x01, 0x00}));
    std::remove(fifo.c_str());
}

// Only a users setting left out turns authentication off: an empty one stops
// the start, and a reload to one keeps the users in force.
TEST(ProxyStartTest, AnEmptyUsersSettingIsRefusedAtStartAndOnReload) {
    const std::string users = WriteFile(
        "alice:$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s.iaOhduJM12G.w2Rru0C\n");
    const std::string empty = "bad value for --users: \"\" (expected a users file";
    const std::pair<std::string, std::string> forms[] = {
        {"users = \"\"", empty},
        {"users = []", "users names no file"},
        {"users = [\"" + users + "\", \"\"]", "users takes one value, not a list"},
    };
    // Each stops the start with status 1 and the message.
    const auto refused = [](const std::vector<std::string>& options, const std::string& message) {
        ProxyProcess start(options);
        EXPECT_FALSE(start.Started()) << message;
        EXPECT_EQ(start.Stop(SIGTERM), 1) << message;
        EXPECT_NE(start.Log().find(message), std::string::npos) << start.Log();
    };
    refused({"--users", ""}, empty);
    for (const auto& [form, message] : forms) {
        const std::string file = WriteFile(form + "\n");
        refused({"--config", file}, file + ":1: " + message);
        std::remove(file.c_str());
    }

    const std::string config = WriteFile("users = \"" + users + "\"\n");
    ProxyProcess proxy({"--config", config});
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    size_t failures = 0;
    for (const auto& [form, message] : forms) {
        std::ofstream(config) << form << "\n";
        kill(proxy.Pid(), SIGHUP);
        ASSERT_TRUE(proxy.WaitForLog("reload failed", ++failures)) << proxy.Log();
        const std::string log = proxy.Log();
        const std::string line = log.substr(log.rfind("reload failed"));
        EXPECT_EQ(line.find("reload failed, the previous configuration stays: " + config +
                            ":1: " + message),
                  0u)
            << line;
        RawClient anonymous(proxy.Host(), ProxyProcess::Port);
        anonymous.Send(Greeting);
        EXPECT_EQ(anonymous.Read(2), (Bytes{0x05, 0xFF})) << form;
    }
    EXPECT_EQ(proxy.Log().find("configuration reloaded"), std::string::npos);
    std::remove(config.c_str());
    std::remove(users.c_str());
}

TEST(ProxyStartTest, TermClosesAnOpenConnectionWithItsLogLineAndMonitorClose) {
    const std::string webHost = RandomLoopbackHost();
    LocalHttpServer web(webHost, 0);
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    RawClient monitor(proxy.Host(), 5051);
    RawClient open(proxy.Host(), ProxyProcess::Port);
    ASSERT_TRUE(open.Send(Greeting));
    ASSERT_TRUE(open.Send(ConnectRequest(webHost, web.Port())));
    ASSERT_EQ(open.Read(12).size(), 12u);
    EXPECT_EQ(RecordKinds(monitor), (std::vector<uint32_t>{RecordKindOpen, RecordKindUpdate}));

    kill(proxy.Pid(), SIGTERM);
    // It stays open through the grace period, then the proxy closes it.
    EXPECT_TRUE(open.Closed());
    ASSERT_TRUE(proxy.WaitForLog("result=\"shut down\"")) << proxy.Log();
    EXPECT_EQ(RecordKinds(monitor), (std::vector<uint32_t>{RecordKindClose}));
    EXPECT_EQ(proxy.Stop(0), 0);
    EXPECT_NE(proxy.Log().find("stopping: 1 open connections"), std::string::npos);
}

// A reload names what only a restart changes: compared with what the process
// started with, and a users file that systemd copied at the start. A pass rule
// that opens this machine's private addresses is named at every load.
TEST(ProxyStartTest, HangUpNamesWhatOnlyARestartChanges) {
    const TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const std::string users = folder.File("users");
    std::ofstream(users) << "alice:$y$j9T$8aqj54dKK1pgw963UMKys1$aGyJIzNWXhiDoxMd.2kTr.s."
                            "iaOhduJM12G.w2Rru0C\n";
    const std::string open = "[[rule]]\naction = \"pass\"\nto = [\"0.0.0.0/0\", \"::/0\"]\n";
    const std::string config = WriteFile("users = \"" + users + "\"\n" + open);
    const std::string host = RandomLoopbackHost();
    ProxyProcess proxy({"--config", config},
                       {"/usr/bin/env", "CREDENTIALS_DIRECTORY=" + folder.Path()}, host);
    ASSERT_TRUE(proxy.Started()) << proxy.Log();
    const std::string warning = "rule 1 lets clients of other machines reach";
    EXPECT_TRUE(proxy.WaitForLog(warning)) << proxy.Log();

    std::ofstream(config) << "users = \"" << users << "\"\nthreads = 1\n" << open;
    kill(proxy.Pid(), SIGHUP);
    ASSERT_TRUE(proxy.WaitForLog(
        "configuration reloaded; a restart is needed for: threads users (a systemd credential)"))
        << proxy.Log();
    EXPECT_TRUE(proxy.WaitForLog(warning, 2));
    // Back as it started: only the credential still needs a restart.
    std::ofstream(config) << "users = \"" << users << "\"\n";
    kill(proxy.Pid(), SIGHUP);
    ASSERT_TRUE(proxy.WaitForLog("configuration reloaded", 2)) << proxy.Log();
    const std::string log = proxy.Log();
    const size_t last = log.rfind("configuration reloaded");
    EXPECT_EQ(log.substr(last, log.find('\n', last) - last),
              "configuration reloaded; a restart is needed for: users (a systemd credential)");
    EXPECT_EQ(proxy.Stop(SIGTERM), 0);
    std::remove(config.c_str());
}

}  // namespace start_test
