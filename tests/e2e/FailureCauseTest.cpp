// The cause a failure names is the cause: an answer on the way to the final one (a redirect, a
// challenge, an interim answer) never lends its own circumstances to the text of what went wrong
// after it. Each case runs the built binary against a scripted server with -o onto a file that
// already holds bytes, which must stay as they were, and on standard output, which must stay empty.

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "support/ConsoleTexts.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"

namespace korrin::test {
namespace {

using namespace std::chrono_literals;

const std::string headersTooLarge = "The server's response headers were too large to read.";
const std::string notReceived = "The response could not be received from the server.";

const std::string redirect =
    "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 9\r\n\r\nelsewhere";
const std::string challenge =
    "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"files\"\r\n"
    "Content-Length: 4\r\n\r\nnope";
// A first line of more than 100 KB that is not HTTP and never ends.
const std::string longLine(100 * 1024 + 100, 'x');

struct CauseCase {
    const char* name;
    // What the server sends: to the first request, to one that follows a redirect to /next, and
    // to one that carries credentials.
    std::string first;
    std::string afterRedirect;
    std::string withCredentials;
    bool credentials;  // -u and -p are given
    std::string text;  // the failure's text in the verdict
    // Another text that is right as well, where libcurl's reading decides which it finds first.
    std::string alsoRight;
};

void PrintTo(const CauseCase& c, std::ostream* out) { *out << c.name; }

bool HasAuthorization(const std::string& request) {
    return request.find("\r\nAuthorization: ") != std::string::npos;
}

class FailureCause : public testing::TestWithParam<CauseCase> {};

TEST_P(FailureCause, NamesWhatWentWrong) {
    const CauseCase& c = GetParam();
    ScriptedServer server([&c](const std::string& request, ScriptedConnection& connection) {
        if (HasAuthorization(request)) {
            connection.Send(c.withCredentials);
        } else if (request.rfind("GET /next ", 0) == 0) {
            connection.Send(c.afterRedirect);
        } else {
            connection.Send(c.first);
        }
    });
    std::vector<std::string> arguments = {server.Url("/file")};
    if (c.credentials) arguments.insert(arguments.end(), {"-u", "ann", "-p", "secret"});
    ProcessOptions options;
    options.timeout = 60s;

    TempDir folder;
    const std::string path = folder.File("out.bin");
    WriteFile(path, oldContent);
    std::vector<std::string> toFile = arguments;
    toFile.insert(toFile.end(), {"-o", path});
    const ProcessResult run = RunKorrinBinary(toFile, options);
    EXPECT_EQ(run.exitStatus, 1);
    const auto console = [](const std::string& text) {
        return consoleStart + "Error retrieving file: " + text + "\n" + pause;
    };
    if (!c.alsoRight.empty() && run.standardOutput == console(c.alsoRight)) {
        SUCCEED();
    } else {
        EXPECT_EQ(run.standardOutput, console(c.text));
    }
    EXPECT_EQ(run.standardError, "");
    EXPECT_EQ(ReadFile(path), oldContent);

    const ProcessResult quiet = RunKorrinBinary(arguments, options);
    EXPECT_EQ(quiet.exitStatus, 1);
    EXPECT_EQ(quiet.standardOutput, "");
    EXPECT_EQ(quiet.standardError, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailureCause,
    testing::Values(
        // No status line is invalid HTTP, whether or not a redirect led to it; only a Location
        // whose scheme is neither http nor https is reported as such.
        CauseCase{"NoStatusLine", "XTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "", "", false,
                  notValid, ""},
        CauseCase{"NoStatusLineAfterARedirect", redirect,
                  "XTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "", false, notValid, ""},
        // A first line that outgrows every limit is too large, after whatever came before it. When
        // libcurl's first read of it holds less than its limit, libcurl looks at its beginning
        // first and finds no HTTP there, which is as true; never a shortage of memory, and never
        // the redirect.
        CauseCase{"LongFirstLine", longLine, "", "", false, headersTooLarge, notValid},
        CauseCase{"LongFirstLineAfterARedirect", redirect, longLine, "", false, headersTooLarge,
                  notValid},
        CauseCase{"LongFirstLineAfterAChallenge", challenge, "", longLine, true, headersTooLarge,
                  notValid},
        // What follows an interim answer in place of a status line is no valid answer, NUL bytes
        // as much as text.
        CauseCase{"TextAfterAnInterimAnswer",
                  "HTTP/1.1 100 Continue\r\n\r\nthis is not an answer\r\n\r\n", "", "", false,
                  notValid, ""},
        CauseCase{"NulBytesAfterAnInterimAnswer",
                  "HTTP/1.1 100 Continue\r\n\r\n" + std::string(8, '\0'), "", "", false, notValid,
                  ""},
        // The file was never on its way: the challenge that was to be answered was cut off.
        CauseCase{"ChallengeWithACutChunkedBody",
                  "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"files\"\r\n"
                  "Transfer-Encoding: chunked\r\n\r\n10\r\nplease",
                  "", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", true, notReceived, ""}),
    [](const testing::TestParamInfo<CauseCase>& info) { return info.param.name; });

// A head whose lines end in LF alone is a whole head all the same: a connection that closes after
// it, before the body, cuts the body short, and the 200 has replaced the file.
TEST(FailureCauseOfACut, BareLineFeedHeadThenNothingCutsTheBody) {
    ScriptedServer server(
        ScriptedServer::Reply("HTTP/1.1 200 OK\nContent-Length: 10\nServer: lf\n\n"));
    TempDir folder;
    const std::string path = folder.File("out.bin");
    WriteFile(path, oldContent);
    const ProcessResult run = RunKorrinBinary({server.Url("/file"), "-o", path});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput,
              consoleStart +
                  "\nError retrieving file: The connection closed before the whole file had "
                  "arrived.\n" +
                  pause);
    EXPECT_EQ(ReadFile(path), "");
}

}  // namespace
}  // namespace korrin::test
