// vgl-proxy --help: every option of the usage has a line that says what it does.

#include <gtest/gtest.h>

#include <string>

#include "ProxyHarness.h"

TEST(ProxyHelpTest, HelpDescribesEveryOptionOfTheUsage) {
    const ProgramResult help = RunProgram({VGL_PROXY_BINARY, "--help"});
    EXPECT_EQ(help.m_Status, 0);
    const std::string& text = help.m_Out;
    const std::string usage = text.substr(0, text.find("\n\n"));
    ASSERT_NE(usage.find("--listen"), std::string::npos) << text;
    int options = 0;
    for (size_t at = usage.find("[--"); at != std::string::npos; at = usage.find("[--", at + 1)) {
        const size_t end = usage.find_first_of(" ]", at + 1);
        const std::string option = usage.substr(at + 1, end - at - 1);
        EXPECT_NE(text.find("\n  " + option + " ", usage.size()), std::string::npos) << option;
        ++options;
    }
    EXPECT_GT(options, 15);
}
