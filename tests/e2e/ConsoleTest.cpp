// What the built program prints on standard output, byte for byte, and its exit status, with and
// without an output file. The program runs without a controlling terminal, so every pause
// returns at once after its prompt.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ostream>
#include <string>

#include "support/ConsoleTexts.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"

namespace korrin::test {
namespace {

const std::string bannerLine = "korrin 1.4\n\n";
const std::string downloading = "Downloading...\n";

// The part of the output that the progress meter draws is its own affair: these checks look at
// what comes before and after it.
void ExpectFramed(const std::string& output, const std::string& head, const std::string& tail) {
    ASSERT_GE(output.size(), head.size() + tail.size()) << output;
    EXPECT_EQ(output.substr(0, head.size()), head) << output;
    EXPECT_EQ(output.substr(output.size() - tail.size()), tail) << output;
}

TEST(Console, DownloadToAFileShowsBannerProgressAndVerdict) {
    const std::string body = "the file's content\r\nline two\n";
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, body)));
    TempDir folder;
    const ProcessResult run = RunKorrinBinary({server.Url("/f.txt"), "-o", folder.File("f.txt")});
    EXPECT_EQ(run.exitStatus, 0);
    ExpectFramed(run.standardOutput, bannerLine + downloading, "\nFile retrieved ok.\n");
    EXPECT_EQ(run.standardOutput.find("Press any key"), std::string::npos) << "no pause";
    EXPECT_EQ(ReadFile(folder.File("f.txt")), body);
    EXPECT_EQ(run.standardError, "");
}

TEST(Console, WithoutLengthTheMeterDrawsOnlyItsClosingLine) {
    // No Content-Length: the body runs to the end of the connection.
    ScriptedServer server(ScriptedServer::Reply("HTTP/1.0 200 OK\r\n\r\nbody"));
    TempDir folder;
    const ProcessResult run = RunKorrinBinary({server.Url("/"), "-o", folder.File("out")});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardOutput, bannerLine + downloading + "\r100% [>>>>>>>>>>>>>>>>>>>>]" +
                                      std::string(34, ' ') + "\nFile retrieved ok.\n");
    EXPECT_EQ(ReadFile(folder.File("out")), "body");
}

struct VerdictCase {
    int status;
    std::string verdict;
};

void PrintTo(const VerdictCase& c, std::ostream* out) { *out << c.status; }

class ConsoleVerdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(ConsoleVerdicts, StatusOtherThan200IsWordedThenPauses) {
    const VerdictCase& c = GetParam();
    ScriptedServer server(ScriptedServer::Reply(HttpReply(c.status, "server's page")));
    TempDir folder;
    const ProcessResult run = RunKorrinBinary({server.Url("/x"), "-o", folder.File("out")});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput, bannerLine + downloading + c.verdict + pause);
    EXPECT_FALSE(FileExists(folder.File("out"))) << "only a 200 answer opens the file";
    EXPECT_EQ(run.standardError, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConsoleVerdicts,
    ::testing::Values(
        VerdictCase{404, "Error 404 retrieving file: File not found, please check the URL.\n"},
        VerdictCase{401, "Error 401 retrieving file: Bad username or password.\n"},
        VerdictCase{500, "Error 500 retrieving file: \n"},
        VerdictCase{403, "Error 403 retrieving file: \n"}),
    [](const auto& info) { return std::to_string(info.param.status); });

TEST(Console, TransferFailureIsReportedWithItsTextThenPauses) {
    const RefusingPort refusing;
    TempDir folder;
    const ProcessResult run = RunKorrinBinary({refusing.Url(), "-o", folder.File("out")});
    EXPECT_EQ(run.exitStatus, 1);
    const std::string head = bannerLine + downloading + "Error retrieving file: ";
    ExpectFramed(run.standardOutput, head, "\n" + pause);
    // The failure's text: one line, not empty.
    const std::string text = run.standardOutput.substr(
        head.size(), run.standardOutput.size() - head.size() - 1 - pause.size());
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    EXPECT_FALSE(FileExists(folder.File("out")));
}

TEST(Console, TransferFailureWithoutOutputFileIsSilent) {
    const RefusingPort refusing;
    const ProcessResult run = RunKorrinBinary({refusing.Url()});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput, "");
}

TEST(Console, BadUrlWithOutputFileShowsBannerMessageAndPause) {
    TempDir folder;
    ProcessOptions inFolder;
    inFolder.workingDirectory = folder.Path();
    const ProcessResult run = RunKorrinBinary({"no-scheme.invalid/x", "-o", "out"}, inFolder);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput, bannerLine + "Error: bad URL: no-scheme.invalid/x\n" + pause);
    EXPECT_FALSE(FileExists(folder.File("out")));
}

TEST(Console, BadUrlWithoutOutputFileIsTheOnlyMessage) {
    const ProcessResult run = RunKorrinBinary({"no-scheme.invalid/x", "-h", "-u", "a"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput, "Error: bad URL: no-scheme.invalid/x\n");
    EXPECT_EQ(run.standardError, "");
}

TEST(Console, DashOAsTheUrlArgumentIsABadUrlWithoutBanner) {
    TempDir folder;
    ProcessOptions inFolder;
    inFolder.workingDirectory = folder.Path();
    const ProcessResult run = RunKorrinBinary({"-o", "out.txt"}, inFolder);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput, "Error: bad URL: -o\n");
    EXPECT_FALSE(FileExists(folder.File("out.txt")));
}

TEST(Console, EmptyOutputFileValueSendsTheBodyToStandardOutputAlone) {
    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, "body bytes\n")));
    const ProcessResult run = RunKorrinBinary({server.Url("/f"), "-o", ""});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardOutput, "body bytes\n");
}

TEST(Console, StatusOtherThan200WithoutOutputFilePrintsNothing) {
    ScriptedServer server(ScriptedServer::Reply(HttpReply(404, "not here")));
    const ProcessResult run = RunKorrinBinary({server.Url("/f"), "-o", ""});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput, "");
}

TEST(Console, NoUrlShowsTheUsageScreenUnderTheShortName) {
    const ProcessResult run = RunKorrinBinary({});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput,
              "korrin 1.4\n"
              "\n"
              "Usage: korrin <url> [options]\n"
              "     Options:\n"
              "     -u <username>  (username)\n"
              "     -p <password>  (password)\n"
              "     -o <file>      (send output to file)\n"
              "     -h             (show http headers)\n"
              "\n"
              "Press any key to continue...");
    EXPECT_EQ(run.standardError, "");
}

// Run through a link whose name holds the UTF-8 form of a terminal's command introducer (C1
// 0x9B) and a lone 0x9B byte: the usage screen and the agent text show a blank for the first and
// keep the second, which in a double-byte code page belongs to a character.
TEST(Console, C1ControlsInTheProgramNameAreBlanked) {
    TempDir folder;
    const std::string link = folder.File(
        "k\xC2\x9B"
        "2J\x9B");
    ASSERT_EQ(symlink(KorrinBinary().c_str(), link.c_str()), 0);
    const std::string shown = "k 2J\x9B";

    const ProcessResult usage = RunProcess({link});
    EXPECT_EQ(usage.exitStatus, 1);
    EXPECT_EQ(usage.standardOutput.rfind(shown + " 1.4\n\nUsage: " + shown + " <url>", 0), 0u)
        << usage.standardOutput;

    ScriptedServer server(ScriptedServer::Reply(HttpReply(200, "body")));
    const ProcessResult download = RunProcess({link, server.Url("/f")});
    EXPECT_EQ(download.exitStatus, 0);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_NE(server.Requests()[0].find("\r\nUser-Agent: " + shown + " 1.4\r\n"), std::string::npos)
        << server.Requests()[0];
}

}  // namespace
}  // namespace korrin::test
