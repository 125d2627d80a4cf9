// The configuration file: what it sets lands where the command line would
// put it, and a mistake stops the start with the file, the line and what is wrong.

#include <gtest/gtest.h>

#include <fstream>

#include "ProxyConfigFile.h"
#include "ProxyOptions.h"
#include "ProxyPartsTest.h"

namespace {
namespace config_test {

TEST(ProxyConfigFileTest, KeysAndRulesSetTheOptions) {
    const TempFile file(
        "listen = \"[::1]:1081\"\nallow = [\"10.0.0.0/8\", \"192.168.0.0/16\"]\n"
        "max_per_client = 5\nquiet = true\n"
        "[[rule]]\naction = \"pass\"\nclients = \"10.0.0.0/8\"\nusers = [\"alice\"]\n"
        "to = [\"127.0.0.0/8\"]\nports = [80, \"8000-8999\"]\n"
        "[[rule]]\naction = \"block\"\nnames = \"example.com\"\n");
    ProxyOptions options;
    std::string error;
    ASSERT_TRUE(LoadProxyConfigFile(file.Path(), options, error)) << error;
    EXPECT_EQ(options.m_ListenHost, "::1");
    EXPECT_EQ(options.m_ListenPort, 1081);
    EXPECT_EQ(options.m_Allow.size(), 2u);
    EXPECT_EQ(options.m_MaxPerClient, 5u);
    EXPECT_TRUE(options.m_bQuiet);
    ASSERT_EQ(options.m_Rules.size(), 2u);
    const DestRule& pass = options.m_Rules[0];
    EXPECT_TRUE(pass.m_bPass);
    EXPECT_EQ(pass.m_Number, 1);
    EXPECT_EQ(pass.m_Users, std::vector<std::string>{"alice"});
    ASSERT_EQ(pass.m_Ports.size(), 2u);
    EXPECT_EQ(pass.m_Ports[1], std::make_pair(uint16_t{8000}, uint16_t{8999}));
    EXPECT_FALSE(options.m_Rules[1].m_bPass);
    EXPECT_EQ(options.m_Rules[1].m_Number, 2);
}

TEST(ProxyConfigFileTest, MistakesNameTheFileLineAndCause) {
    const std::pair<const char*, std::string> cases[] = {
        {"quiet = \"yes\"\n", ":1: quiet must be true or false"},
        {"\nbogus = 1\n", ":2: unknown key bogus"},
        {"config = \"other.conf\"\n", ":1: unknown key config"},
        {"listen = 1.5\n", ":1: listen must be a text, a number or a list"},
        {"allow = [\"10.0.0.0/33\"]\n",
         ":1: bad value for --allow: \"10.0.0.0/33\" (expected an address block, e.g. "
         "192.168.0.0/16)"},
        {"rule = 5\n", ": rules are written [[rule]]"},
        {"[[rule]]\naction = \"pass\"\n\n[[rule]]\naction = \"allow\"\n",
         ":4: rule 2: action must be \"pass\" or \"block\""},
        {"[[rule]]\naction = \"block\"\nto = \"10.0.0.0/33\"\n",
         ":1: rule 1: \"10.0.0.0/33\" is not an address block"},
        {"[[rule]]\naction = \"block\"\nports = \"90-80\"\n",
         ":1: rule 1: \"90-80\" is not a port or a range such as 8000-8999"},
        {"[[rule]]\naction = \"block\"\nusers = true\n",
         ":1: rule 1: users must be a text or a list of texts"},
        {"[[rule]]\naction = \"block\"\ncolour = \"red\"\n", ":1: rule 1: unknown key colour"},
        // Would never match, and the rule would look in force.
        {"[[rule]]\naction = \"block\"\nnames = [\"example.com\", \"\"]\n",
         ":1: rule 1: \"\" is not a name"},
        // Only one of them could be used.
        {"\nlisten = [\"127.0.0.1:1080\", \"127.0.0.2:1080\"]\n",
         ":2: listen takes one value, not a list"},
    };
    std::string error;
    for (const auto& [text, message] : cases) {
        const TempFile file(text);
        ProxyOptions options;
        EXPECT_FALSE(LoadProxyConfigFile(file.Path(), options, error)) << text;
        EXPECT_EQ(error, file.Path() + message);
    }
    // Not TOML at all: the line, then the parser's own words.
    const TempFile broken("listen = \"127.0.0.1:1080\"\nallow = [\"10.0.0.0/8\"\n");
    ProxyOptions options;
    EXPECT_FALSE(LoadProxyConfigFile(broken.Path(), options, error));
    EXPECT_EQ(error.rfind(broken.Path() + ":2: ", 0), 0u) << error;
    // Missing: no line to name.
    EXPECT_FALSE(LoadProxyConfigFile("/nonexistent/vgl-proxy.conf", options, error));
    EXPECT_EQ(error, "/nonexistent/vgl-proxy.conf: cannot be read");
}

// The file the package installs shows the defaults commented out: each
// of them, and each example, must load as it is once uncommented.
TEST(ProxyConfigFileTest, TheShippedFileLoadsWithEverySettingUncommented) {
    std::ifstream shipped(VGL_PROXY_CONF);
    ASSERT_TRUE(shipped) << VGL_PROXY_CONF;
    std::string text, line;
    size_t uncommented = 0;
    while (std::getline(shipped, line)) {
        const bool setting = line.size() > 1 && line[0] == '#' &&
                             (line[1] == '[' || (line[1] >= 'a' && line[1] <= 'z'));
        if (setting) ++uncommented;
        text += (setting ? line.substr(1) : line) + "\n";
    }
    EXPECT_GT(uncommented, 20u);
    const TempFile file(text);
    ProxyOptions options;
    std::string error;
    ASSERT_TRUE(LoadProxyConfigFile(file.Path(), options, error)) << error << "\n" << text;
    EXPECT_EQ(options.m_Threads, 0u);
    EXPECT_EQ(options.m_Rules.size(), 3u);
}

}  // namespace config_test
}  // namespace
