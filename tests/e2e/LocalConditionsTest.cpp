// Bad conditions on the user's side of a download: an output that cannot be opened or written,
// a closed standard output or closed standard descriptors, and an existing file that a failed
// download must leave alone.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/ScriptedServer.h"

namespace korrin::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* openingFailure = "Error retrieving file: Error opening output file\n";
constexpr const char* writingFailure = "Error retrieving file: Error writing output file\n";

// A body larger than the file stream's buffer, so that writing fails before the file is closed
// as well as at the close.
std::string LargeBody() { return std::string(600 * 1024, 'x'); }

struct OutputCase {
    const char* name;
    const char* outputPath;  // relative to a fresh folder, or absolute
    const char* expected;
};

class UnusableOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(UnusableOutput, IsReportedWithStatus1) {
    const OutputCase& c = GetParam();
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, LargeBody())));
    TempDir folder;
    const std::string path = c.outputPath[0] == '/' ? c.outputPath : folder.File(c.outputPath);
    ProcessOptions options;
    options.timeout = 60s;
    const ProcessResult run = RunKorrinBinary({server.Url("/file"), "-o", path}, options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.standardOutput.find(c.expected), std::string::npos) << run.standardOutput;
}

INSTANTIATE_TEST_SUITE_P(Table, UnusableOutput,
                         ::testing::Values(OutputCase{"DeviceFull", "/dev/full", writingFailure},
                                           OutputCase{"FolderThatDoesNotExist", "missing/out.bin",
                                                      openingFailure},
                                           OutputCase{"PathIsAFolder", ".", openingFailure}),
                         [](const auto& info) { return std::string(info.param.name); });

// A body that fits in the file stream's buffer reaches the file only when it is closed: the
// failure shows there, and the console says so on a line of its own after the bar, never with a
// closing full bar.
TEST(UnusableOutput, SmallBodyFailsAtTheClose) {
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, std::string(1000, 's'))));
    const ProcessResult run = RunKorrinBinary({server.Url("/file"), "-o", "/dev/full"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput, "korrin 1.4\n\nDownloading...\n\r100% [>>>>>>>>>>>>>>>>>>>>]\n" +
                                      std::string(writingFailure) +
                                      "\nPress any key to continue...");
}

// Makes path unwritable for this process: permission bits for an ordinary user; for root, whom
// permission bits do not stop, the immutable attribute where the file system has one. False when
// neither works here.
bool MakeReadOnly(const std::string& path) {
    if (geteuid() != 0) return RunProcess({"/bin/chmod", "0444", path}).exitStatus == 0;
    return RunProcess({"/usr/bin/env", "chattr", "+i", path}).exitStatus == 0;
}

TEST(ReadOnlyOutput, IsReportedAndLeftUnchanged) {
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, "new content")));
    TempDir folder;
    const std::string path = folder.File("read-only.txt");
    WriteFile(path, "old content");
    if (!MakeReadOnly(path)) {
        GTEST_SKIP() << "running as root on a file system without the immutable attribute: "
                        "nothing here can make a file read-only for this process";
    }
    const ProcessResult run = RunKorrinBinary({server.Url("/file"), "-o", path});
    if (geteuid() == 0) RunProcess({"/usr/bin/env", "chattr", "-i", path});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.standardOutput.find(openingFailure), std::string::npos) << run.standardOutput;
    EXPECT_EQ(ReadFile(path), "old content");
}

// A large body fails while it is written; a small one only at the final flush.
TEST(ClosedStandardOutput, EndsWithStatus1AndNoSignal) {
    for (const std::string& body : {LargeBody(), std::string(1000, 's')}) {
        SCOPED_TRACE(body.size());
        ScriptedServer server(ScriptedServer::Reply(HttpReply(200, body)));
        ProcessOptions options;
        options.closeStandardOutput = true;
        options.timeout = 60s;
        const ProcessResult run = RunKorrinBinary({server.Url("/file")}, options);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.signal, 0) << "killed by signal " << run.signal;
        EXPECT_EQ(run.exitStatus, 1);
    }
}

// Started with standard descriptors closed (korrin URL >&-), the program must not let a socket
// (the connection, or libcurl's own wake-up pair) or the output file take one of them: the body
// and the console messages then go nowhere else, nothing but the request reaches the server, and
// a body that cannot be written to standard output is a failure.
struct ClosedDescriptorsCase {
    const char* name;
    std::vector<int> closed;
    bool toFile;  // -o names a file; else the body goes to standard output
    int exitStatus;
};

class ClosedDescriptors : public ::testing::TestWithParam<ClosedDescriptorsCase> {};

TEST_P(ClosedDescriptors, NothingButTheRequestReachesTheServer) {
    const ClosedDescriptorsCase& c = GetParam();
    // Small enough that a write of it into whatever took descriptor 1 succeeds.
    const std::string body = "a small body\n";
    auto afterRequest = std::make_shared<std::promise<std::string>>();
    ScriptedServer server(
        [&body, afterRequest](const std::string&, ScriptedConnection& connection) {
            connection.Send(HttpReply(200, body));
            afterRequest->set_value(connection.WaitForPeerClose(60s));
        });
    TempDir folder;
    const std::string path = folder.File("out.bin");
    std::vector<std::string> arguments = {server.Url("/file")};
    if (c.toFile) arguments.insert(arguments.end(), {"-o", path});
    ProcessOptions options;
    options.closedDescriptors = c.closed;
    options.timeout = 60s;
    const ProcessResult run = RunKorrinBinary(arguments, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitStatus, c.exitStatus);
    if (c.toFile) {
        EXPECT_EQ(ReadFile(path), body);
    }
    std::future<std::string> sent = afterRequest->get_future();
    ASSERT_EQ(sent.wait_for(60s), std::future_status::ready);
    const std::string extra = sent.get();
    EXPECT_EQ(extra, "") << extra.size() << " bytes after the request, beginning with "
                         << extra.substr(0, 80);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClosedDescriptors,
    ::testing::Values(ClosedDescriptorsCase{"StandardOutputBodyToIt", {1}, false, 1},
                      ClosedDescriptorsCase{"StandardOutputBodyToFile", {1}, true, 0},
                      ClosedDescriptorsCase{"AllThreeBodyToFile", {0, 1, 2}, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A failed or refused download never opens the output: a file that is there stays as it was.
TEST(ExistingOutputFile, IsUnchangedByAnAnswerOtherThan200) {
    for (const std::string& reply :
         {HttpReply(404, "NOT FOUND PAGE"), std::string("GARBAGE STATUS\r\n\r\nbody")}) {
        ScriptedServer server(ScriptedServer::Reply(reply));
        TempDir folder;
        const std::string path = folder.File("keep.txt");
        WriteFile(path, "precious content");
        const ProcessResult run = RunKorrinBinary({server.Url("/missing"), "-o", path});
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_NE(run.standardOutput.find("retrieving file: "), std::string::npos)
            << run.standardOutput;
        EXPECT_EQ(ReadFile(path), "precious content");
    }
}

}  // namespace
}  // namespace korrin::test
