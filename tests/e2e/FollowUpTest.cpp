// Which answer is the final one, when libcurl may follow an answer up with another request: a
// redirect, or a challenge that it answers with the credentials. Each case runs the built binary
// twice against a scripted server, with -o naming a file that already holds bytes and with the
// body on standard output, and checks the exit status, the console and the file to the byte.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/ConsoleTexts.h"
#include "support/LibcurlRefusals.h"
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
    // The download goes through a proxy, the scripted server itself, named in http_proxy with
    // these credentials ("user:pw@"), if any.
    bool viaProxy = false;
    std::string proxyCredentials = {};
    // The row shows a reading of libcurl before 8.13 (which trims all white space from a
    // Location); later ones read otherwise, and follow it.
    bool before813 = false;
};
// A server that answers a request without credentials with the challenge, and any request that
// carries an answer in Digest with the body. The challenge's body comes when libcurl is to answer
// it (libcurl reads past it first), and never when the challenge is to be final at its headers.
ScriptedServer::Script DigestChallenge(const std::string& challenge, bool bodyComes = false) {
    return [challenge, bodyComes](const std::string& request, ScriptedConnection& connection) {
        const std::string head =
            "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: " + challenge + "\r\nContent-Length: ";
        if (Contains(request, "\r\nAuthorization: Digest ")) {
            connection.Send(HttpReply(200, "secret body"));
        } else if (bodyComes) {
            connection.Send(head + "4\r\n\r\nnope");
        } else {
            SendThenWait(connection, head + "100\r\n\r\n");
        }
    };
}

// A proxy that refuses every request with a 407 whose body never comes.
void ProxyRefusal(const std::string&, ScriptedConnection& connection) {
    SendThenWait(connection,
                 "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
                 "realm=\"p\"\r\nContent-Length: 100\r\n\r\n");
}

const std::string proxyRefused = "Error 407 retrieving file: \n" + pause;

// A case whose answer has a Content-Length with a plus sign: as given where the libcurl in use
// takes it (7.88), and refused as not valid HTTP, whatever the status, where it does not (8.13 on).
FollowUpCase SignedLength(FollowUpCase c) {
    if (!LibcurlRefusesASignedContentLength()) return c;
    c.exitStatus = 1;
    c.console = "Error retrieving file: " + notValid + "\n" + pause;
    c.file = std::nullopt;
    c.quiet = "";
    return c;
}

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
        SignedLength(
            {"NotFoundWithSignedLength",
             ScriptedServer::Reply("HTTP/1.1 404 Not Found\r\nContent-Length: +2\r\n\r\nno"),
             "/f",
             {},
             1,
             notFound,
             std::nullopt,
             ""}),
        {"NotFoundWithTwoLengths",
         ScriptedServer::Reply("HTTP/1.1 404 Not Found\r\nContent-Length: 3, 4\r\n\r\nabc"),
         "/f",
         {},
         1,
         notFound,
         std::nullopt,
         ""},
        SignedLength({"RedirectWithSignedLength",
                      [](const std::string& request, ScriptedConnection& connection) {
                          connection.Send(PathOf(request) == "/final"
                                              ? HttpReply(200, "body")
                                              : "HTTP/1.1 302 Found\r\nLocation: "
                                                "/final\r\nContent-Length: +0\r\n\r\n");
                      },
                      "/f",
                      {},
                      0,
                      retrieved,
                      "body",
                      "body"}),
        SignedLength({"OkWithSignedLength",
                      ScriptedServer::Reply("HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\nhello"),
                      "/f",
                      {},
                      0,
                      retrieved,
                      "hello",
                      "hello"}),
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
        // Challenges that libcurl does not answer, however they look: Digest with a -sess
        // algorithm but no qop, and a nonce whose name has a blank before its '='. They are final
        // at their headers.
        {"DigestSessionWithoutQop",
         DigestChallenge("Digest realm=\"r\", nonce=\"n1\", "
                         "algorithm=MD5-sess"),
         "/f", credentials, 1, badCredentials, std::nullopt, ""},
        {"DigestNonceWithABlankBeforeItsEquals",
         DigestChallenge("Digest realm=\"r\", nonce =\"n1\""), "/f", credentials, 1, badCredentials,
         std::nullopt, ""},
        // One that libcurl does answer: an unquoted value runs to the next comma, so the
        // algorithm is part of the nonce.
        {"DigestUnquotedNonceRunsToTheComma",
         DigestChallenge("Digest realm=r, nonce=n1 algorithm=FOO", true), "/f", credentials, 0,
         retrieved, "secret body", "secret body"},
        // A Location of white space alone is no Location to libcurl 7.88: the redirect is final
        // at its headers.
        {"RedirectToAVerticalTab",
         [](const std::string&, ScriptedConnection& connection) {
             SendThenWait(connection,
                          "HTTP/1.1 302 Found\r\nLocation: \v\r\nContent-Length: 100\r\n\r\n");
         },
         "/f",
         {},
         1,
         "Error 302 retrieving file: \n" + pause,
         std::nullopt,
         "",
         false,
         "",
         true},
        // Body bytes that libcurl hands over while the head as the layer reads it is still open
        // (libcurl ends a head at a line that begins with a carriage return) are no valid answer,
        // also after lengths that conflict.
        {"ConflictingLengthsThenALineStartingWithACarriageReturn",
         ScriptedServer::Reply("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: "
                               "9\r\n\rX-Note: y\r\n\r\nhello"),
         "/f",
         {},
         1,
         "Error retrieving file: " + notValid + "\n" + pause,
         std::nullopt,
         ""},
        // libcurl offers a proxy Basic only, and sends it with the first request when the proxy
        // setting holds credentials: it never answers a 407, which is final at its headers.
        {"ProxyRefusesWithoutCredentials",
         ProxyRefusal,
         "/f",
         {},
         1,
         proxyRefused,
         std::nullopt,
         "",
         true},
        {"ProxyRefusesTheCredentialsSent",
         ProxyRefusal,
         "/f",
         {},
         1,
         proxyRefused,
         std::nullopt,
         "",
         true,
         "user:pw@"},
    };
}

class FollowUp : public ::testing::TestWithParam<FollowUpCase> {};

TEST_P(FollowUp, DecidesTheFinalAnswer) {
    const FollowUpCase& c = GetParam();
    if (c.before813 && curl_version_info(CURLVERSION_NOW)->version_num >= 0x080d00)
        GTEST_SKIP() << "libcurl 8.13 and later read this header otherwise";
    ScriptedServer server(c.script);
    ProcessOptions options;
    // Far above a normal run, below the 60-second stall limit that a wait for a body that never
    // comes would run into.
    options.timeout = 45s;
    if (c.viaProxy) {
        options.environment = {"http_proxy=http://" + c.proxyCredentials +
                               "127.0.0.1:" + std::to_string(server.Port())};
    }

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

// Back at the URL's own server after a redirect to another port, the credentials are gone all
// the same: libcurl (7.88 and 8.14) drops them for the rest of the transfer at the redirect that
// changed the port or the scheme. So the challenge there gets no answer, and is final at once.
TEST(FollowUpAcrossPorts, CredentialsStayDroppedBackAtTheUrlsServer) {
    std::string back;  // the URL's own server's address for the way back; set before any request
    ScriptedServer elsewhere([&back](const std::string&, ScriptedConnection& connection) {
        connection.Send("HTTP/1.1 302 Found\r\nLocation: " + back +
                        "\r\nContent-Length: 0\r\n\r\n");
    });
    const std::string away = elsewhere.Url("/away");
    ScriptedServer origin([&away](const std::string& request, ScriptedConnection& connection) {
        if (PathOf(request) == "/start") {
            connection.Send("HTTP/1.1 302 Found\r\nLocation: " + away +
                            "\r\nContent-Length: 0\r\n\r\n");
        } else {
            SendThenWait(connection,
                         "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                         "Content-Length: 100\r\n\r\n");
        }
    });
    back = origin.Url("/back");
    ProcessOptions options;
    options.timeout = 20s;
    std::vector<std::string> arguments = {origin.Url("/start")};
    arguments.insert(arguments.end(), credentials.begin(), credentials.end());
    const ProcessResult result = RunKorrinBinary(arguments, options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, "");
    const std::vector<std::string> requests = origin.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(PathOf(requests[1]), "/back");
    for (const std::string& request : requests)
        EXPECT_FALSE(Contains(request, "\r\nAuthorization:")) << request;
}

// Memory that runs out while a header line is taken in: the allocation that fails is the layer's
// copy of one header line for its own reading of the block (its size is the line's length without
// its line end, and its terminating zero, and nothing else in the run allocates that size).
// libcurl's copies of that line and of its value are of other sizes (the value without the
// vertical tab at its end, the stored line with its carriage return), so they succeed. The run
// must end as the out-of-memory failure, never abort.
struct HeaderShortageCase {
    const char* name;
    std::string headerLine;  // the line that is copied, lineLength bytes long
    std::size_t lineLength;
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
                           "KORRIN_TEST_FAIL_ALLOC_SIZE=" + std::to_string(c.lineLength + 1)};
    options.timeout = 45s;
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
        HeaderShortageCase{"Redirect", "Location: /" + std::string(6000, 'x') + "\v", 6012, {}},
        HeaderShortageCase{"Challenge",
                           "WWW-Authenticate: Basic realm=\"" + std::string(6000, 'x') + "\"\v",
                           6033, credentials}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korrin::test
