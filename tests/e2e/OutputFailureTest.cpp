// The output side of a download under strain: no memory for standard output's buffer, and a file
// that stops taking bytes in the middle of the body. Each runs the built binary against a scripted
// server.

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "support/Process.h"
#include "support/Sanitizer.h"
#include "support/ScriptedServer.h"

namespace korrin::test {
namespace {

using namespace std::chrono_literals;

// A body larger than an output buffer of 128 KiB, whose bytes differ from place to place.
std::string LargeBody() {
    std::string body(200 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i * 7 % 26);
    return body;
}

// Without its 128 KiB buffer, standard output still takes the body, through the stream's own
// smaller one: the whole body arrives, and nothing crashes.
TEST(OutputBuffer, StandardOutputWithoutItsBufferStillTakesTheWholeBody) {
#ifdef KORRIN_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocator cannot be replaced by a preloaded one";
#endif
    const std::string body = LargeBody();
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, body)));
    ProcessOptions options;
    options.timeout = 60s;
    options.environment = {std::string("LD_PRELOAD=") + KORRIN_FAILING_ALLOC,
                           "KORRIN_TEST_FAIL_ALLOC_SIZE=131072"};
    const ProcessResult run = RunKorrinBinary({server.Url("/file")}, options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(run.standardOutput == body) << run.standardOutput.size() << " bytes";
    EXPECT_EQ(run.standardError, "");
}

// The file stops taking bytes once its 128 KiB buffer is first written out: the bar drawn so far
// is ended by a line end of its own before the verdict, and it never shows the whole body.
TEST(OutputFile, WriteFailureMidBodyEndsTheBarBeforeTheVerdict) {
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, LargeBody())));
    ProcessOptions options;
    options.timeout = 60s;
    const ProcessResult run = RunKorrinBinary({server.Url("/file"), "-o", "/dev/full"}, options);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardError, "");
    const std::string start = "korrin 1.4\n\nDownloading...\n";
    const std::string end =
        "\nError retrieving file: Error writing output file\n\nPress any key to continue...";
    const std::string& console = run.standardOutput;
    ASSERT_GE(console.size(), start.size() + end.size()) << console;
    EXPECT_EQ(console.substr(0, start.size()), start);
    EXPECT_EQ(console.substr(console.size() - end.size()), end);
    // Between them, only bar lines short of the end, each begun by a carriage return; the time
    // remaining appears only when a second boundary passed during the download.
    const std::string lines =
        console.substr(start.size(), console.size() - start.size() - end.size());
    static const std::regex barLines(
        "(\r( {0,2}[0-9]| ?[1-9][0-9])% \\[>*\\.*\\]( +Time remaining: [0-9]{2,}:[0-5][0-9] *)?)+");
    EXPECT_TRUE(std::regex_match(lines, barLines)) << lines;
}

}  // namespace
}  // namespace korrin::test
