// The real binary under valgrind's memcheck for a few whole downloads: a success, a refusal and a
// failure in the middle of the body. Any memory error, or any block definitely lost, fails the
// case. Skipped in a sanitized build, which valgrind cannot run, and where valgrind is missing.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/Process.h"
#include "support/Sanitizer.h"
#include "support/ScriptedServer.h"

namespace korrin::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* valgrind = "/usr/bin/valgrind";
// Set apart from korrin's own statuses, so that a memcheck finding can never pass for one.
constexpr int findingStatus = 99;

struct MemcheckCase {
    const char* name;
    std::string reply;
    int exitStatus;
};

class Memcheck : public ::testing::TestWithParam<MemcheckCase> {};

TEST_P(Memcheck, FindsNoErrorAndNothingDefinitelyLost) {
#ifdef KORRIN_SANITIZED
    GTEST_SKIP() << "a sanitized build does not run under valgrind";
#endif
    if (access(valgrind, X_OK) != 0) GTEST_SKIP() << "valgrind is not installed";
    const MemcheckCase& c = GetParam();
    ScriptedServer server(ScriptedServer::Reply(c.reply));
    TempDir folder;
    ProcessOptions options;
    options.timeout = 120s;
    const ProcessResult run = RunProcess(
        {valgrind, "--quiet", "--error-exitcode=" + std::to_string(findingStatus),
         "--leak-check=full", "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite",
         KorrinBinary(), server.Url("/file"), "-o", folder.File("out.bin")},
        options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.standardError;
    EXPECT_EQ(run.standardError, "") << "memcheck reported:\n" << run.standardError;
}

INSTANTIATE_TEST_SUITE_P(
    Downloads, Memcheck,
    ::testing::Values(
        MemcheckCase{"Success", HttpReply(200, std::string(5000, 'b')), 0},
        MemcheckCase{"NotFound", HttpReply(404, "NOT FOUND PAGE"), 1},
        MemcheckCase{"FailureMidBody",
                     "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(1500, 'b'), 1},
        MemcheckCase{"InvalidFraming",
                     HttpReply(200, "hello", "Content-Length: 5\r\nContent-Length: 6\r\n"), 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korrin::test
