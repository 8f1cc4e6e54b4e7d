// Hostile and broken answers, each produced on purpose by a scripted server on loopback, against
// the real binary. Every case runs twice: with -o (the file must be absent, or hold exactly the
// bytes that were received) and with the body on standard output (which must then hold exactly
// those bytes and nothing of a failed or non-200 answer).

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/LibcurlRefusals.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"
#include "transfer/DownloadFile.h"

namespace korrin::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* failureText = "Error retrieving file: ";
constexpr const char* successText = "File retrieved ok.\n";

// What a run must end with.
enum class Verdict {
    success,  // status 0, "File retrieved ok."
    failure,  // status 1, "Error retrieving file: ..."
    status,   // status 1, "Error <status> retrieving file: ..." for an answer other than 200
};

struct HostileCase {
    const char* name;
    std::string reply;  // the bytes the server sends to every request
    Verdict verdict;
    std::optional<std::string> stored;  // the output's bytes; nothing: no file, empty stdout
};

std::string ManyHeaderLines(std::size_t count) {
    std::string lines;
    for (std::size_t i = 0; i < count; ++i) lines += "X-" + std::to_string(i) + ": v\r\n";
    return lines;
}

// Bytes that begin like a gzip stream; nothing may decode them.
const std::string gzipBytes("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xcb\x48\xcd\xc9\xc9\x07\x00",
                            17);

std::vector<HostileCase> HostileCases() {
    return {
        {"GarbageStatusLine", "GARBAGE\x01\x02 nonsense\r\n\r\nbody bytes", Verdict::failure, {}},
        {"Http09Answer", "just a body, no status line and no headers\n", Verdict::failure, {}},
        {"HeaderLineOver100KB",
         "HTTP/1.1 200 OK\r\nX-Long: " + std::string(100 * 1024 + 16, 'a') +
             "\r\nContent-Length: 4\r\n\r\nbody",
         Verdict::failure,
         {}},
        // libcurl 8.14 and later take at most 5,000 header lines; 7.88 takes any number.
        {"FourThousandHeaderLines", HttpReply(200, "body after many lines", ManyHeaderLines(4000)),
         Verdict::success, "body after many lines"},
        {"TenThousandHeaderLines", HttpReply(200, "body after many lines", ManyHeaderLines(10000)),
         LibcurlRefusesManyHeaderLines() ? Verdict::failure : Verdict::success,
         LibcurlRefusesManyHeaderLines() ? std::nullopt
                                         : std::optional<std::string>("body after many lines")},
        {"NegativeContentLength",
         HttpReply(200, "hello", "Content-Length: -5\r\n"),
         Verdict::failure,
         {}},
        {"LettersContentLength",
         HttpReply(200, "hello", "Content-Length: abc\r\n"),
         Verdict::failure,
         {}},
        {"TwentyDigitContentLength",
         HttpReply(200, "hello", "Content-Length: 12345678901234567890\r\n"),
         Verdict::failure,
         {}},
        {"TwoDifferentContentLengths",
         HttpReply(200, "hello", "Content-Length: 5\r\nContent-Length: 6\r\n"),
         Verdict::failure,
         {}},
        {"MoreBytesThanAnnounced", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA BYTES",
         Verdict::success, "hello"},
        {"ChunkedBody",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
         Verdict::success, "hello world"},
        {"GzipContentEncodingStoredAsSent", HttpReply(200, gzipBytes, "Content-Encoding: gzip\r\n"),
         Verdict::success, gzipBytes},
        {"RedirectLoop",
         HttpReply(302, "REDIRECT BODY", "Location: /loop\r\n"),
         Verdict::failure,
         {}},
        {"RedirectToFileScheme",
         HttpReply(302, "REDIRECT BODY", "Location: file:///etc/passwd\r\n"),
         Verdict::failure,
         {}},
        {"RedirectToFtpScheme",
         HttpReply(302, "REDIRECT BODY", "Location: ftp://127.0.0.1:1/file\r\n"),
         Verdict::failure,
         {}},
        {"NotFoundWithABody", HttpReply(404, "NOT FOUND PAGE"), Verdict::status, {}},
        {"ServerErrorWithABody", HttpReply(500, "SERVER ERROR PAGE"), Verdict::status, {}},
        {"AsksForCredentialsNoneGiven",
         HttpReply(401, "AUTH PAGE", "WWW-Authenticate: Basic\r\n"),
         Verdict::status,
         {}},
        {"StopsMidBody", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nthe first bytes",
         Verdict::failure, "the first bytes"},
    };
}

// Runs korrin against url in both output modes and checks the outcome.
void ExpectOutcome(const std::string& url, Verdict verdict,
                   const std::optional<std::string>& stored,
                   const std::vector<std::string>& extraArguments = {}) {
    ProcessOptions options;
    options.timeout = 60s;

    TempDir folder;
    const std::string path = folder.File("out.bin");
    std::vector<std::string> arguments = {url, "-o", path};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    const ProcessResult toFile = RunKorrinBinary(arguments, options);
    EXPECT_FALSE(toFile.timedOut);
    EXPECT_EQ(toFile.signal, 0);
    if (verdict == Verdict::success) {
        EXPECT_EQ(toFile.exitStatus, 0) << toFile.standardOutput;
        EXPECT_NE(toFile.standardOutput.find(successText), std::string::npos)
            << toFile.standardOutput;
    } else if (verdict == Verdict::failure) {
        EXPECT_EQ(toFile.exitStatus, 1) << toFile.standardOutput;
        EXPECT_NE(toFile.standardOutput.find(failureText), std::string::npos)
            << toFile.standardOutput;
    } else {
        EXPECT_EQ(toFile.exitStatus, 1) << toFile.standardOutput;
        EXPECT_NE(toFile.standardOutput.find(" retrieving file: "), std::string::npos)
            << toFile.standardOutput;
        EXPECT_EQ(toFile.standardOutput.find(failureText), std::string::npos)
            << toFile.standardOutput;
    }
    EXPECT_EQ(FileExists(path), stored.has_value());
    if (stored && FileExists(path)) {
        EXPECT_EQ(ReadFile(path), *stored);
    }

    arguments = {url};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    const ProcessResult toStdout = RunKorrinBinary(arguments, options);
    EXPECT_FALSE(toStdout.timedOut);
    EXPECT_EQ(toStdout.signal, 0);
    EXPECT_EQ(toStdout.exitStatus, verdict == Verdict::success ? 0 : 1);
    EXPECT_EQ(toStdout.standardOutput, stored.value_or(""));
}

class HostileAnswers : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileAnswers, EndCleanlyWithTheExpectedOutcome) {
    const HostileCase& c = GetParam();
    ScriptedServer server(ScriptedServer::Reply(c.reply));
    ExpectOutcome(server.Url("/file"), c.verdict, c.stored);
}

INSTANTIATE_TEST_SUITE_P(Table, HostileAnswers, ::testing::ValuesIn(HostileCases()),
                         [](const auto& info) { return std::string(info.param.name); });

bool HasAuthorization(const std::string& request) {
    return request.find("\r\nAuthorization:") != std::string::npos ||
           request.find("\r\nauthorization:") != std::string::npos;
}

const std::string askForCredentials =
    HttpReply(401, "AUTH PAGE BODY", "WWW-Authenticate: Basic realm=\"korrin\"\r\n");

TEST(Credentials, NeverOnTheWireBeforeTheServerAsks) {
    ScriptedServer server([](const std::string& request, ScriptedConnection& connection) {
        connection.Send(HasAuthorization(request) ? HttpReply(200, "secret body")
                                                  : askForCredentials);
    });
    ExpectOutcome(server.Url("/private"), Verdict::success, "secret body",
                  {"-u", "user", "-p", "pw"});

    // Each run: an unauthenticated first request, then one with the Basic answer to the challenge.
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (std::size_t run = 0; run < 2; ++run) {
        EXPECT_FALSE(HasAuthorization(requests[2 * run])) << requests[2 * run];
        EXPECT_NE(requests[2 * run + 1].find("\r\nAuthorization: Basic dXNlcjpwdw==\r\n"),
                  std::string::npos)
            << requests[2 * run + 1];
    }
}

// Credentials given in part, or asked for in another scheme: what the answer to the challenge
// carries. No answer expected means that no request carries credentials and the 401 stands.
struct ChallengeCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string challenge;            // the WWW-Authenticate line of the 401
    std::vector<std::string> answer;  // texts that the answering request must hold
};

void PrintTo(const ChallengeCase& c, std::ostream* out) { *out << c.name; }

class Challenge : public ::testing::TestWithParam<ChallengeCase> {};

TEST_P(Challenge, IsAnsweredWithWhatWasGiven) {
    const ChallengeCase& c = GetParam();
    const std::string challenge = c.challenge;
    ScriptedServer server([challenge](const std::string& request, ScriptedConnection& connection) {
        connection.Send(
            HasAuthorization(request)
                ? HttpReply(200, "secret body")
                : HttpReply(401, "AUTH PAGE BODY", "WWW-Authenticate: " + challenge + "\r\n"));
    });
    std::vector<std::string> arguments{server.Url("/private")};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProcessResult run = RunKorrinBinary(arguments);
    const std::vector<std::string> requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_FALSE(HasAuthorization(requests[0])) << requests[0];
    if (c.answer.empty()) {
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.standardOutput, "");
        for (const std::string& request : requests)
            EXPECT_FALSE(HasAuthorization(request)) << request;
        return;
    }
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardOutput, "secret body");
    ASSERT_EQ(requests.size(), 2u);
    for (const std::string& text : c.answer) {
        EXPECT_NE(requests[1].find(text), std::string::npos) << text << " in\n" << requests[1];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Challenge,
    ::testing::Values(
        // An empty password is a password: "user:" in Basic.
        ChallengeCase{"UserNameAlone",
                      {"-u", "user"},
                      "Basic realm=\"korrin\"",
                      {"\r\nAuthorization: Basic dXNlcjo=\r\n"}},
        ChallengeCase{"Digest",
                      {"-u", "user", "-p", "pw"},
                      "Digest realm=\"korrin\", nonce=\"0123abcd\"",
                      {"\r\nAuthorization: Digest ", "username=\"user\"", "realm=\"korrin\"",
                       "nonce=\"0123abcd\"", "uri=\"/private\"", "response=\""}},
        // No user name, no credentials: a password alone is offered to
        // nobody, and the 401 stands.
        ChallengeCase{"PasswordAlone", {"-p", "secret"}, "Basic realm=\"korrin\"", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// After the first host asked for and received the credentials, it redirects to another host
// (127.0.0.2). That host must never receive them, whether it answers or asks for them in turn.
TEST(Credentials, NeverSentToAnotherHostAfterARedirect) {
    for (const bool otherHostAsks : {false, true}) {
        SCOPED_TRACE(otherHostAsks ? "other host asks for credentials" : "other host answers");
        // The same port number on another address, so that only the host tells the two apart;
        // tried again in the rare case that the port is taken on the first address.
        std::unique_ptr<ScriptedServer> otherHost;
        std::unique_ptr<ScriptedServer> firstHost;
        for (int attempt = 0; attempt < 5 && !firstHost; ++attempt) {
            otherHost = std::make_unique<ScriptedServer>(
                ScriptedServer::Reply(otherHostAsks ? askForCredentials
                                                    : HttpReply(200, "other host body")),
                "127.0.0.2");
            const std::string target = otherHost->Url("/elsewhere");
            try {
                firstHost = std::make_unique<ScriptedServer>(
                    [target](const std::string& request, ScriptedConnection& connection) {
                        connection.Send(
                            HasAuthorization(request)
                                ? HttpReply(302, "REDIRECT BODY", "Location: " + target + "\r\n")
                                : askForCredentials);
                    },
                    "127.0.0.1", otherHost->Port());
            } catch (const std::runtime_error&) {
            }
        }
        ASSERT_TRUE(firstHost) << "no port free on both addresses";

        ProcessOptions options;
        options.timeout = 60s;
        TempDir folder;
        const std::string path = folder.File("out.bin");
        const ProcessResult run = RunKorrinBinary(
            {firstHost->Url("/private"), "-o", path, "-u", "user", "-p", "pw"}, options);
        EXPECT_EQ(run.exitStatus, otherHostAsks ? 1 : 0) << run.standardOutput;
        if (otherHostAsks) {
            EXPECT_NE(run.standardOutput.find("Error 401 retrieving file: "), std::string::npos)
                << run.standardOutput;
            EXPECT_FALSE(FileExists(path));
        } else {
            EXPECT_EQ(ReadFile(path), "other host body");
        }

        ASSERT_GE(firstHost->Requests().size(), 2u);
        EXPECT_TRUE(HasAuthorization(firstHost->Requests()[1]));
        const std::vector<std::string> received = otherHost->Requests();
        ASSERT_FALSE(received.empty()) << "the redirect was not followed";
        for (const std::string& request : received)
            EXPECT_FALSE(HasAuthorization(request)) << request;
    }
}

// The command line sets no time-outs, so a silent server is tried at the layer, with a short
// stall time-out of the test's own.
struct SilenceCase {
    const char* name;
    std::string sentBeforeSilence;
    std::optional<std::string> stored;
};

class SilentServer : public ::testing::TestWithParam<SilenceCase> {};

TEST_P(SilentServer, FailsAfterTheStallTimeoutKeepingWhatArrived) {
    const SilenceCase& c = GetParam();
    auto silenceBegan = std::make_shared<std::promise<std::chrono::steady_clock::time_point>>();
    ScriptedServer server([&c, silenceBegan](const std::string&, ScriptedConnection& connection) {
        connection.Send(c.sentBeforeSilence);
        silenceBegan->set_value(std::chrono::steady_clock::now());
        connection.WaitForPeerClose(60s);
    });
    TempDir folder;
    std::string errorText;
    const DownloadJob job =
        LoopbackJob(server.Port(), "/silent", folder.File("out.bin"), errorText);
    DownloadEnvironment environment;
    environment.session.connectTimeout = 2s;
    environment.session.stallTimeout = 1s;
    environment.console = nullptr;

    const auto startedAt = std::chrono::steady_clock::now();
    EXPECT_EQ(DownloadFile(job, environment), -1);
    const auto failedAt = std::chrono::steady_clock::now();
    EXPECT_EQ(errorText, "The transfer stalled: no data arrived from the server for too long.");
    std::future<std::chrono::steady_clock::time_point> silence = silenceBegan->get_future();
    ASSERT_EQ(silence.wait_for(0s), std::future_status::ready);
    // The silence begins with the last byte sent, or, when the server sends none, with the
    // connection (the server's script runs only once the request has arrived).
    const auto silenceBeganAt = c.sentBeforeSilence.empty() ? startedAt : silence.get();
    EXPECT_GE(failedAt - silenceBeganAt, 1s) << "the limit is a full second of silence";
    EXPECT_EQ(FileExists(job.outputPath), c.stored.has_value());
    if (c.stored && FileExists(job.outputPath)) {
        EXPECT_EQ(ReadFile(job.outputPath), *c.stored);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SilentServer,
    ::testing::Values(SilenceCase{"NeverAnswers", "", {}},
                      SilenceCase{"StallsInTheHeaders", "HTTP/1.1 200 OK\r\nContent-Le", {}},
                      SilenceCase{"StallsMidBody",
                                  "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst part",
                                  "first part"}),
    [](const auto& info) { return std::string(info.param.name); });

// A server that sends a byte every 0.4 s is slow, not silent: with a limit of 1 s of silence the
// download succeeds, wherever the bytes trickle, even inside a header line.
struct TrickleCase {
    const char* name;
    std::string before;    // sent at once
    std::string trickled;  // sent one byte every 0.4 s
    std::string after;     // sent at once behind them
    std::string stored;
};

class SlowServer : public ::testing::TestWithParam<TrickleCase> {};

TEST_P(SlowServer, IsNoStallWhileBytesKeepComing) {
    const TrickleCase& c = GetParam();
    ScriptedServer server([&c](const std::string&, ScriptedConnection& connection) {
        connection.Send(c.before);
        for (const char byte : c.trickled) {
            // The server's own pace, not a wait for an event.
            std::this_thread::sleep_for(400ms);
            connection.Send(std::string(1, byte));
        }
        connection.Send(c.after);
    });
    TempDir folder;
    std::string errorText;
    const DownloadJob job = LoopbackJob(server.Port(), "/slow", folder.File("out.bin"), errorText);
    DownloadEnvironment environment;
    environment.session.stallTimeout = 1s;
    environment.console = nullptr;

    EXPECT_EQ(DownloadFile(job, environment), 200) << errorText;
    EXPECT_EQ(ReadFile(job.outputPath), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SlowServer,
    ::testing::Values(TrickleCase{"InsideAHeaderLine", "HTTP/1.1 200 OK\r\nX-Slow: ", "abcdefgh",
                                  "\r\nContent-Length: 4\r\n\r\nbody", "body"},
                      TrickleCase{"InTheBody", "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n",
                                  "abcdefgh", "", "abcdefgh"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korrin::test
