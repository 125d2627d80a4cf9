// VGL_TRACE as a switch. The trace reads the environment once, so each value
// runs in a fresh copy of this program that traces one line.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/base/Trace.h"

namespace {

// What the traced line writes to standard error with VGL_TRACE as given (null: unset).
std::string StderrWith(const char* value) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return "<no pipe>";
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeEnds[1], STDERR_FILENO);
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);  // the child's own test report
        value != nullptr ? ::setenv("VGL_TRACE", value, 1) : ::unsetenv("VGL_TRACE");
        ::execl("/proc/self/exe", "trace-test", "--gtest_filter=TraceTest.DISABLED_TracesOneLine",
                "--gtest_also_run_disabled_tests", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    return text;
}

}  // namespace

// Run only by the test below, in a program of its own.
TEST(TraceTest, DISABLED_TracesOneLine) {
    GW_TRACE("traced");
}

TEST(TraceTest, OnlyANonEmptyValueOtherThan0TurnsItOn) {
    for (const char* off : {static_cast<const char*>(nullptr), "", "0"})
        EXPECT_EQ(StderrWith(off).find("traced in"), std::string::npos) << (off ? off : "unset");
    for (const char* on : {"1", "yes"})
        EXPECT_NE(StderrWith(on).find("traced in TraceTest.cpp"), std::string::npos) << on;
}
