// Which answer is the final one, when libcurl may follow an answer up with another request: a
// redirect, or a challenge that it answers with the credentials. Each case runs the built binary
// twice against a scripted server, with -o naming a file that already holds bytes and with the
// body on standard output, and checks the exit status, the console and the file to the byte.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/ConsoleTexts.h"
#include "support/Process.h"
#include "support/Sanitizer.h"
#include "support/ScriptedServer.h"

namespace korrin::test {
namespace {

using namespace std::chrono_literals;

const std::string retrieved = fullBar + closingLine + "File retrieved ok.\n";
const std::string badCredentials = "Error 401 retrieving file: Bad username or password.\n" + pause;
const std::string notFound =
    "Error 404 retrieving file: File not found, please check the URL.\n" + pause;
const std::string tooManyRedirects =
    "Error retrieving file: Gave up following redirects: the server sent too many of them.\n" +
    pause;
const std::vector<std::string> credentials = {"-u", "user", "-p", "pw"};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The path of a request's request line.
std::string PathOf(const std::string& request) {
    const auto start = request.find(' ') + 1;
    return request.substr(start, request.find(' ', start) - start);
}

// Sends bytes, then keeps the connection open until korrin closes it: a body that never comes.
void SendThenWait(ScriptedConnection& connection, const std::string& bytes) {
    connection.Send(bytes);
    connection.WaitForPeerClose(60s);
}

// A chain of redirects: /rN answers 302 to /r(N-1), and /r0 the body. The path /rM of
// challengeAt asks for credentials first (Basic), and goes on once they come.
ScriptedServer::Script RedirectChain(int challengeAt) {
    return [challengeAt](const std::string& request, ScriptedConnection& connection) {
        const int n = std::stoi(PathOf(request).substr(2));
        if (n == challengeAt && !Contains(request, "\r\nAuthorization: Basic ")) {
            connection.Send(HttpReply(401, "nope", "WWW-Authenticate: Basic realm=\"r\"\r\n"));
        } else if (n > 0) {
            connection.Send("HTTP/1.1 302 Found\r\nLocation: /r" + std::to_string(n - 1) +
                            "\r\nContent-Length: 0\r\n\r\n");
        } else {
            connection.Send(HttpReply(200, "body"));
        }
    };
}

// A Digest server whose first nonce has expired by the time it is used: it asks again with a new
// nonce, saying stale=true or not, and takes an answer with the new nonce.
ScriptedServer::Script DigestServer(bool sayStale) {
    return [sayStale](const std::string& request, ScriptedConnection& connection) {
        const std::string challenge =
            "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest "
            "realm=\"r\", qop=\"auth\", nonce=";
        if (!Contains(request, "\r\nAuthorization: Digest ")) {
            connection.Send(challenge + "\"first\"\r\nContent-Length: 4\r\n\r\nnope");
        } else if (!Contains(request, "nonce=\"first\"")) {
            connection.Send(HttpReply(200, "secret body"));
        } else if (sayStale) {
            connection.Send(challenge + "\"second\", stale=true\r\nContent-Length: 4\r\n\r\nnope");
        } else {
            // A refusal's body never comes: only its headers may decide.
            SendThenWait(connection, challenge + "\"second\"\r\nContent-Length: 100\r\n\r\n");
        }
    };
}

struct FollowUpCase {
    const char* name;
    ScriptedServer::Script script;
    std::string path;  // the URL's path
    std::vector<std::string> extraArguments;
    int exitStatus;
    std::string console;              // standard output with -o, after "Downloading..."
    std::optional<std::string> file;  // the output file afterwards; nothing: left as it was
    std::string quiet;                // standard output without -o
};

std::vector<FollowUpCase> FollowUpCases() {
    return {
        // A challenge in a scheme that libcurl does not answer is final at its headers, with
        // credentials given or not.
        {"BearerOnlyChallengeWithCredentials",
         [](const std::string&, ScriptedConnection& connection) {
             SendThenWait(connection,
                          "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Bearer "
                          "realm=\"r\"\r\nContent-Length: 100\r\n\r\n");
         },
         "/f", credentials, 1, badCredentials, std::nullopt, ""},
        {"StaleDigestNonceAnsweredAgain", DigestServer(true), "/f", credentials, 0, retrieved,
         "secret body", "secret body"},
        {"DigestChallengedAgainWithoutStale", DigestServer(false), "/f", credentials, 1,
         badCredentials, std::nullopt, ""},
        // A server that calls every nonce stale is answered ten times, not for ever.
        {"StaleNoncesWithoutEnd",
         [](const std::string& request, ScriptedConnection& connection) {
             const auto nonce = std::to_string(std::hash<std::string>{}(request));
             connection.Send(
                 "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", "
                 "nonce=\"" +
                 nonce + "\", stale=true\r\nContent-Length: 4\r\n\r\nnope");
         },
         "/f", credentials, 1, badCredentials, std::nullopt, ""},
        // Ten redirects are allowed, an answered challenge on the way is none of them; the
        // eleventh redirect is refused with or without a challenge.
        {"TenRedirects", RedirectChain(-1), "/r10", {}, 0, retrieved, "body", "body"},
        {"TenRedirectsAndAChallenge", RedirectChain(0), "/r10", credentials, 0, retrieved, "body",
         "body"},
        {"ElevenRedirects", RedirectChain(-1), "/r11", {}, 1, tooManyRedirects, std::nullopt, ""},
        {"ElevenRedirectsAndAChallenge", RedirectChain(5), "/r11", credentials, 1, tooManyRedirects,
         std::nullopt, ""},
        // A Content-Length read strictly only where it frames the body that is stored.
        {"NotFoundWithSignedLength",
         ScriptedServer::Reply("HTTP/1.1 404 Not Found\r\nContent-Length: +2\r\n\r\nno"),
         "/f",
         {},
         1,
         notFound,
         std::nullopt,
         ""},
        {"NotFoundWithTwoLengths",
         ScriptedServer::Reply("HTTP/1.1 404 Not Found\r\nContent-Length: 3, 4\r\n\r\nabc"),
         "/f",
         {},
         1,
         notFound,
         std::nullopt,
         ""},
        {"RedirectWithSignedLength",
         [](const std::string& request, ScriptedConnection& connection) {
             connection.Send(PathOf(request) == "/final"
                                 ? HttpReply(200, "body")
                                 : "HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: "
                                   "+0\r\n\r\n");
         },
         "/f",
         {},
         0,
         retrieved,
         "body",
         "body"},
        {"OkWithSignedLength",
         ScriptedServer::Reply("HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\nhello"),
         "/f",
         {},
         0,
         retrieved,
         "hello",
         "hello"},
        // A redirect whose header block is cut off before its empty line is no redirect: libcurl
        // would follow it as if it were whole.
        {"RedirectCutInItsHeaders",
         [](const std::string& request, ScriptedConnection& connection) {
             connection.Send(PathOf(request) == "/final"
                                 ? HttpReply(200, "body")
                                 : "HTTP/1.1 302 Found\r\nLocation: /final\r\n");
         },
         "/f",
         {},
         1,
         "Error retrieving file: The connection closed before the response headers had all "
         "arrived.\n" +
             pause,
         std::nullopt,
         ""},
        // Under chunked coding the Content-Length frames nothing, and sizes no bar.
        {"ChunkedWithASmallerLength",
         ScriptedServer::Reply("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: "
                               "3\r\n\r\na\r\n0123456789\r\n0\r\n\r\n"),
         "/f",
         {},
         0,
         closingLine + "File retrieved ok.\n",
         "0123456789",
         "0123456789"},
    };
}

class FollowUp : public ::testing::TestWithParam<FollowUpCase> {};

TEST_P(FollowUp, DecidesTheFinalAnswer) {
    const FollowUpCase& c = GetParam();
    ScriptedServer server(c.script);
    ProcessOptions options;
    // Far above a normal run, below the 60-second stall limit that a wait for a body that never
    // comes would run into.
    options.timeout = 60s;

    TempDir folder;
    const std::string path = folder.File("out.bin");
    WriteFile(path, oldContent);
    std::vector<std::string> arguments = {server.Url(c.path), "-o", path};
    arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
    const ProcessResult toFile = RunKorrinBinary(arguments, options);
    EXPECT_FALSE(toFile.timedOut);
    EXPECT_EQ(toFile.exitStatus, c.exitStatus);
    EXPECT_EQ(toFile.standardOutput, consoleStart + c.console);
    EXPECT_EQ(toFile.standardError, "");
    EXPECT_EQ(ReadFile(path), c.file.value_or(oldContent));

    arguments = {server.Url(c.path)};
    arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
    const ProcessResult quiet = RunKorrinBinary(arguments, options);
    EXPECT_FALSE(quiet.timedOut);
    EXPECT_EQ(quiet.exitStatus, c.exitStatus);
    EXPECT_EQ(quiet.standardOutput, c.quiet);
    EXPECT_EQ(quiet.standardError, "");
}

INSTANTIATE_TEST_SUITE_P(Table, FollowUp, ::testing::ValuesIn(FollowUpCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A redirect to another port makes libcurl drop the credentials for the rest of the download: the
// challenge that the new port sends gets no answer, so it is the final answer at its headers, and
// its body, which never comes, is not waited for.
TEST(FollowUpAcrossPorts, ChallengeAfterARedirectToAnotherPortIsFinalAtOnce) {
    ScriptedServer target([](const std::string&, ScriptedConnection& connection) {
        SendThenWait(connection,
                     "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                     "Content-Length: 100\r\n\r\n");
    });
    const std::string location = target.Url("/f");
    ScriptedServer first(ScriptedServer::Reply("HTTP/1.1 302 Found\r\nLocation: " + location +
                                               "\r\nContent-Length: 0\r\n\r\n"));
    ProcessOptions options;
    options.timeout = 60s;
    TempDir folder;
    const std::string path = folder.File("out.bin");
    WriteFile(path, oldContent);
    std::vector<std::string> arguments = {first.Url("/start"), "-o", path};
    arguments.insert(arguments.end(), credentials.begin(), credentials.end());
    const ProcessResult result = RunKorrinBinary(arguments, options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, consoleStart + badCredentials);
    EXPECT_EQ(ReadFile(path), oldContent);
}

// Memory that runs out while a header line is judged: the allocation that fails is the copy of
// one header value (its size is the value's length and its terminating zero, and nothing else in
// the run allocates that size). libcurl copies these values too, without the vertical tab at
// their end: one byte shorter, so its copy succeeds. The run must end as the out-of-memory
// failure, never abort.
struct HeaderShortageCase {
    const char* name;
    std::string headerLine;  // the line whose value is copied, with a value of valueLength
    std::size_t valueLength;
    std::vector<std::string> extraArguments;
};

class HeaderShortage : public ::testing::TestWithParam<HeaderShortageCase> {};

TEST_P(HeaderShortage, EndsAsTheOutOfMemoryFailure) {
#ifdef KORRIN_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocator cannot be replaced by a preloaded one";
#endif
    const HeaderShortageCase& c = GetParam();
    const std::string status = c.name == std::string("Redirect") ? "302 Found" : "401 No";
    ScriptedServer server(ScriptedServer::Reply("HTTP/1.1 " + status + "\r\n" + c.headerLine +
                                                "\r\nContent-Length: 0\r\n\r\n"));
    ProcessOptions options;
    options.environment = {std::string("LD_PRELOAD=") + KORRIN_FAILING_ALLOC,
                           "KORRIN_TEST_FAIL_ALLOC_SIZE=" + std::to_string(c.valueLength + 1)};
    options.timeout = 60s;
    TempDir folder;
    const std::string path = folder.File("out.bin");
    WriteFile(path, oldContent);
    std::vector<std::string> arguments = {server.Url("/f"), "-o", path};
    arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
    const ProcessResult run = RunKorrinBinary(arguments, options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput,
              consoleStart +
                  "Error retrieving file: There was not enough memory to complete the "
                  "download.\n" +
                  pause);
    EXPECT_EQ(run.standardError, "");
    EXPECT_EQ(ReadFile(path), oldContent);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HeaderShortage,
    ::testing::Values(
        HeaderShortageCase{"Redirect", "Location: /" + std::string(6000, 'x') + "\v", 6002, {}},
        HeaderShortageCase{"Challenge",
                           "WWW-Authenticate: Basic realm=\"" + std::string(6000, 'x') + "\"\v",
                           6015, credentials}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korrin::test
