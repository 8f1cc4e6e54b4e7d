// Memory that runs out during a run, made to run out on purpose by a preloaded allocator that
// fails every allocation from a given size up. The run must end as a failure in the program's own
// words: exit status 1, the layer's out-of-memory text in the verdict when the console is in use,
// nothing on standard error, no abort, and an existing output file left as it was.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ConsoleTexts.h"
#include "support/Process.h"
#include "support/Sanitizer.h"
#include "support/ScriptedServer.h"

namespace korrin::test {
namespace {

struct ShortageCase {
    const char* name;
    const char* failFrom;                     // the smallest allocation that fails, in bytes
    std::vector<std::string> extraArguments;  // after the URL and -o FILE, or the URL alone
    std::string console;                      // standard output with -o
};

class OutOfMemory : public ::testing::TestWithParam<ShortageCase> {};

TEST_P(OutOfMemory, EndsAsAFailureInTheProgramsOwnWords) {
#ifdef KORRIN_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocator cannot be replaced by a preloaded one";
#endif
    const ShortageCase& c = GetParam();
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, "body")));
    ProcessOptions options;
    options.environment = {std::string("LD_PRELOAD=") + KORRIN_FAILING_ALLOC,
                           std::string("KORRIN_TEST_FAIL_ALLOC_FROM=") + c.failFrom};

    TempDir folder;
    const std::string path = folder.File("out.bin");
    WriteFile(path, oldContent);
    std::vector<std::string> arguments = {server.Url("/file"), "-o", path};
    arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
    const ProcessResult toFile = RunKorrinBinary(arguments, options);
    EXPECT_EQ(toFile.signal, 0);
    EXPECT_EQ(toFile.exitStatus, 1);
    EXPECT_EQ(toFile.standardOutput, c.console);
    EXPECT_EQ(toFile.standardError, "");
    EXPECT_EQ(ReadFile(path), oldContent);

    arguments = {server.Url("/file")};
    arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
    const ProcessResult quiet = RunKorrinBinary(arguments, options);
    EXPECT_EQ(quiet.signal, 0);
    EXPECT_EQ(quiet.exitStatus, 1);
    EXPECT_EQ(quiet.standardOutput, "");
    EXPECT_EQ(quiet.standardError, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutOfMemory,
    ::testing::Values(
        // The request's receive buffer (two deliveries of 128 KiB) cannot be had.
        ShortageCase{"WhileTheRequestIsPrepared",
                     "200000",
                     {},
                     "korrin 1.4\n\nDownloading...\nError retrieving file: There was not enough "
                     "memory to complete the download.\n\nPress any key to continue..."},
        // A user name too long to copy, in the front end: the console is not in use yet, so
        // nothing is printed at all.
        ShortageCase{"WhileTheOptionsAreRead", "100000", {"-u", std::string(120000, 'u')}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korrin::test
