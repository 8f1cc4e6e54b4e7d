// The verdict rests on the answer that libcurl acted on, read from the header block where that
// block really starts and ends. Each case runs the built binary twice against a scripted server:
// with -o naming a file that already holds bytes (which must stay, be truncated, or be replaced by
// exactly what arrived) and with the body on standard output; both runs are checked to the byte.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/ConsoleTexts.h"
#include "support/LibcurlRefusals.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"

namespace korrin::test {
namespace {

using namespace std::chrono_literals;

std::string Failed(const std::string& text) {
    return "Error retrieving file: " + text + "\n" + pause;
}

std::string HeaderComment(const std::string& block) {
    return "<!-- HTTP HEADERS:\n" + block + "-->\n\n";
}

const std::string closedEarly = "The connection closed before the whole file had arrived.";
const std::string headersCut = "The connection closed before the response headers had all arrived.";
const std::string notFound =
    "Error 404 retrieving file: File not found, please check the URL.\n" + pause;

struct AnswerCase {
    const char* name;
    ScriptedServer::Script script;
    std::vector<std::string> extraArguments;
    int exitStatus;
    std::string console;              // standard output with -o, after "Downloading..."
    std::optional<std::string> file;  // the output file afterwards; nothing: left as it was
    std::string quiet;                // standard output without -o
};

ScriptedServer::Script Send(std::string bytes) { return ScriptedServer::Reply(std::move(bytes)); }

// Sends bytes, then keeps the connection open until korrin closes it: a body that never comes.
ScriptedServer::Script SendThenWait(std::string bytes) {
    return [bytes = std::move(bytes)](const std::string&, ScriptedConnection& connection) {
        connection.Send(bytes);
        connection.WaitForPeerClose(60s);
    };
}

bool HasAuthorization(const std::string& request) {
    return request.find("\r\nAuthorization: Basic ") != std::string::npos;
}

std::vector<AnswerCase> AnswerCases() {
    const std::string okBlock = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n";
    const std::string emptyChunkedBlock = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    return {
        // The status gates the body whatever the body then does.
        {"NotFoundCutBeforeItsBody",
         Send("HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\n"),
         {},
         1,
         notFound,
         {},
         ""},
        {"NotFoundWhoseBodyNeverComes",
         SendThenWait("HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\n"),
         {},
         1,
         notFound,
         {},
         ""},
        {"NotAuthorizedWhoseBodyNeverComes",
         SendThenWait("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                      "Content-Length: 100\r\n\r\n"),
         {},
         1,
         "Error 401 retrieving file: Bad username or password.\n" + pause,
         {},
         ""},
        // The challenge is answered once; the second 401 is the verdict, body or not.
        {"CredentialsRefusedWhoseBodyNeverComes",
         [](const std::string& request, ScriptedConnection& connection) {
             const std::string challenge =
                 "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n";
             if (!HasAuthorization(request)) {
                 connection.Send(challenge + "Content-Length: 4\r\n\r\nnope");
                 return;
             }
             connection.Send(challenge + "Content-Length: 100\r\n\r\n");
             connection.WaitForPeerClose(60s);
         },
         {"-u", "user", "-p", "wrong"},
         1,
         "Error 401 retrieving file: Bad username or password.\n" + pause,
         {},
         ""},
        // A 200 opens (truncates) the file and writes the header comment before the body loop.
        {"OkCutBeforeItsBody",
         Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n"),
         {},
         1,
         "\n" + Failed(closedEarly),
         "",
         ""},
        {"OkCutBeforeItsBodyWithHeaders",
         Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n"),
         {"-h"},
         1,
         "\n" + Failed(closedEarly),
         HeaderComment("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n"),
         HeaderComment("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n")},
        // Only the final block goes into the header comment.
        {"InterimAnswerThenOk",
         Send("HTTP/1.1 100 Continue\r\n\r\n" + okBlock + "body"),
         {"-h"},
         0,
         fullBar + closingLine + "File retrieved ok.\n",
         HeaderComment(okBlock) + "body",
         HeaderComment(okBlock) + "body"},
        {"RedirectThenOk",
         ScriptedServer::Replies({"HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 8\r\n"
                                  "\r\nelsewhere",
                                  okBlock + "body"}),
         {"-h"},
         0,
         fullBar + closingLine + "File retrieved ok.\n",
         HeaderComment(okBlock) + "body",
         HeaderComment(okBlock) + "body"},
        {"ChallengeAnsweredThenOk",
         [okBlock](const std::string& request, ScriptedConnection& connection) {
             connection.Send(HasAuthorization(request)
                                 ? okBlock + "body"
                                 : "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic "
                                   "realm=\"r\"\r\nContent-Length: 4\r\n\r\nnope");
         },
         {"-h", "-u", "user", "-p", "pw"},
         0,
         fullBar + closingLine + "File retrieved ok.\n",
         HeaderComment(okBlock) + "body",
         HeaderComment(okBlock) + "body"},
        // A header block that never ends is no answer at all.
        {"HeaderBlockCutMidLine",
         Send("HTTP/1.0 200 OK\r\nContent-Length: 100"),
         {},
         1,
         Failed(headersCut),
         {},
         ""},
        {"HeaderBlockCutAfterALine",
         Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n"),
         {},
         1,
         Failed(headersCut),
         {},
         ""},
        {"NotFoundHeaderBlockCut",
         Send("HTTP/1.1 404 Not Found\r\nX-Page: missing\r\n"),
         {},
         1,
         Failed(headersCut),
         {},
         ""},
        // A line that looks like a status line inside a block is an ordinary header line.
        {"NotFoundWithAStatusLikeHeader",
         Send("HTTP/1.1 404 Not Found\r\nHTTP/1.1 200 OK: x\r\nContent-Length: 10\r\n\r\n"
              "ERROR PAGE"),
         {},
         1,
         notFound,
         {},
         ""},
        {"ContentLengthsApartAroundAStatusLikeHeader",
         Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nHTTP/1.1 200 OK: x\r\nContent-Length: 6\r\n"
              "\r\nhello!"),
         {},
         1,
         Failed(notValid),
         {},
         ""},
        {"StatusLikeHeaderShownAsAHeader",
         Send("HTTP/1.1 200 OK\r\nHTTP/1.1 200 Fake: x\r\nContent-Length: 2\r\n\r\nhi"),
         {"-h"},
         0,
         fullBar + closingLine + "File retrieved ok.\n",
         HeaderComment("HTTP/1.1 200 OK\r\nHTTP/1.1 200 Fake: x\r\nContent-Length: 2\r\n\r\n") +
             "hi",
         HeaderComment("HTTP/1.1 200 OK\r\nHTTP/1.1 200 Fake: x\r\nContent-Length: 2\r\n\r\n") +
             "hi"},
        // Trailers come after the body: never a new status, never in the header comment.
        {"EmptyChunkedBodyWithAStatusLikeTrailer",
         Send(emptyChunkedBlock + "0\r\nHTTP/1.1 404 Not Found: x\r\n\r\n"),
         {},
         0,
         closingLine + "File retrieved ok.\n",
         "",
         ""},
        {"EmptyChunkedBodyTrailersNotInTheComment",
         Send(emptyChunkedBlock + "0\r\nX-Checksum: 1234\r\n\r\n"),
         {"-h"},
         0,
         closingLine + "File retrieved ok.\n",
         HeaderComment(emptyChunkedBlock),
         HeaderComment(emptyChunkedBlock)},
        {"ChunkedBodyTrailersNotInTheComment",
         Send(emptyChunkedBlock + "4\r\nbody\r\n0\r\nX-Checksum: 1234\r\n\r\n"),
         {"-h"},
         0,
         closingLine + "File retrieved ok.\n",
         HeaderComment(emptyChunkedBlock) + "body",
         HeaderComment(emptyChunkedBlock) + "body"},
        // One reading of the body's length: libcurl takes no name with a blank before its colon
        // for Content-Length, so neither does the meter.
        {"BlankBeforeTheColonOfContentLength",
         Send("HTTP/1.1 200 OK\r\nContent-Length : 3\r\n\r\nhello"),
         {},
         0,
         closingLine + "File retrieved ok.\n",
         "hello",
         "hello"},
        // Two blanks after the version, read as the libcurl in use reads them: taken by 7.88,
        // refused from 8.0 on.
        LibcurlRefusesBlanksAfterTheVersion()
            ? AnswerCase{"TwoBlanksAfterTheVersion",
                         Send("HTTP/1.0  200 OK\r\nContent-Length: 2\r\n\r\nhi"),
                         {},
                         1,
                         Failed(notValid),
                         {},
                         ""}
            : AnswerCase{"TwoBlanksAfterTheVersion",
                         Send("HTTP/1.0  200 OK\r\nContent-Length: 2\r\n\r\nhi"),
                         {},
                         0,
                         fullBar + closingLine + "File retrieved ok.\n",
                         "hi",
                         "hi"},
    };
}

class FinalAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(FinalAnswer, DecidesTheVerdictAndTheOutput) {
    const AnswerCase& c = GetParam();
    ScriptedServer server(c.script);
    ProcessOptions options;
    // Far above a normal run, below the 60-second stall limit that a wait for a body that never
    // comes would run into.
    options.timeout = 60s;

    TempDir folder;
    const std::string path = folder.File("out.bin");
    WriteFile(path, oldContent);
    std::vector<std::string> arguments = {server.Url("/file"), "-o", path};
    arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
    const ProcessResult toFile = RunKorrinBinary(arguments, options);
    EXPECT_FALSE(toFile.timedOut);
    EXPECT_EQ(toFile.exitStatus, c.exitStatus);
    EXPECT_EQ(toFile.standardOutput, consoleStart + c.console);
    EXPECT_EQ(toFile.standardError, "");
    EXPECT_EQ(ReadFile(path), c.file.value_or(oldContent));

    arguments = {server.Url("/file")};
    arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
    const ProcessResult quiet = RunKorrinBinary(arguments, options);
    EXPECT_FALSE(quiet.timedOut);
    EXPECT_EQ(quiet.exitStatus, c.exitStatus);
    EXPECT_EQ(quiet.standardOutput, c.quiet);
    EXPECT_EQ(quiet.standardError, "");
}

INSTANTIATE_TEST_SUITE_P(Table, FinalAnswer, ::testing::ValuesIn(AnswerCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korrin::test
