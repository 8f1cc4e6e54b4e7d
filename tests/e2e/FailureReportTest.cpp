#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "frontend/Messages.h"
#include "support/InProcessDownload.h"
#include "support/Loopback.h"
#include "support/NginxServer.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"
#include "support/TlsServer.h"
#include "transfer/DownloadFile.h"

namespace korrin::test {
namespace {

// What the console shows last after a failed download to a file: the verdict, then the pause.
std::string VerdictAndPause(const std::string& text) {
    return "Error retrieving file: " + text + "\n" + "\nPress any key to continue...";
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A socket that owns its descriptor.
class Socket {
  public:
    explicit Socket(int theFd) : fd(theFd) {
        if (fd < 0) throw std::runtime_error("socket failed");
    }
    ~Socket() { close(fd); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Fd() const { return fd; }

  private:
    int fd;
};

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return where;
}

std::string Url(std::uint16_t port, const std::string& path = "/file.bin") {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

// The header block and the first ten of a hundred announced body bytes.
const std::string partialReply = HttpReply(200, "0123456789", "Content-Length: 100\r\n");

// Starts whatever a case needs and returns the arguments after the binary's path (the output
// file's option is added). keeper holds the server until the run ends; options are those of the
// binary's run (variables for its environment, a network of its own).
using SetUp =
    std::function<std::vector<std::string>(std::shared_ptr<void>& keeper, ProcessOptions& options)>;

struct BinaryCase {
    const char* name;
    SetUp setUp;
    std::string text;         // the failure text in the verdict
    bool outputFileExpected;  // a failure after the body began leaves the bytes so far
};

SetUp Scripted(ScriptedServer::Script script) {
    return [script = std::move(script)](std::shared_ptr<void>& keeper, ProcessOptions&) {
        auto server = std::make_shared<ScriptedServer>(script);
        keeper = server;
        return std::vector<std::string>{server->Url("/file.bin")};
    };
}

class FailureReport : public testing::TestWithParam<BinaryCase> {};

TEST_P(FailureReport, NamesTheFailureInTheVerdict) {
    const BinaryCase& c = GetParam();
    TempDir folder;
    const std::string output = folder.File("out.bin");
    std::shared_ptr<void> keeper;
    ProcessOptions options;
    std::vector<std::string> arguments = c.setUp(keeper, options);
    if (options.isolatedNetwork && !NetworkIsolationAvailable()) {
        GTEST_SKIP() << "no network namespace can be made here";
    }
    arguments.insert(arguments.end(), {"-o", output});
    const ProcessResult run = RunKorrinBinary(arguments, options);

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(EndsWith(run.standardOutput, "\n" + VerdictAndPause(c.text))) << run.standardOutput;
    EXPECT_EQ(run.standardOutput.rfind("korrin 1.4\n\nDownloading...\n", 0), 0u);
    EXPECT_EQ(run.standardError, "");
    EXPECT_EQ(FileExists(output), c.outputFileExpected);
    if (c.outputFileExpected) {
        EXPECT_EQ(ReadFile(output), "0123456789");
    }
}

std::vector<BinaryCase> FailureCases() {
    return {
        BinaryCase{"RefusedPort",
                   [](std::shared_ptr<void>&, ProcessOptions&) {
                       static const RefusingPort refusing;
                       return std::vector<std::string>{Url(refusing.Port())};
                   },
                   "The connection was refused: nothing accepts connections at that "
                   "address and "
                   "port.",
                   false},
        BinaryCase{"UnresolvableName",
                   [](std::shared_ptr<void>&, ProcessOptions& options) {
                       // Looked up where nothing can answer: a network with no
                       // interface up.
                       options.isolatedNetwork = true;
                       return std::vector<std::string>{"http://nothing.invalid/file.bin"};
                   },
                   "No address was found for the server name.", false},
        BinaryCase{"EmptyReply", Scripted([](const std::string&, ScriptedConnection&) {}),
                   "The server closed the connection without sending a response.", false},
        BinaryCase{"ResetMidBody", Scripted([](const std::string&, ScriptedConnection& connection) {
                       connection.Send(partialReply);
                       connection.Abort();
                   }),
                   "The connection was reset before the transfer ended.", true},
        BinaryCase{"BodyShorterThanContentLength", Scripted(ScriptedServer::Reply(partialReply)),
                   "The connection closed before the whole file had arrived.", true},
        BinaryCase{"GarbageInsteadOfStatusLine",
                   Scripted(ScriptedServer::Reply("GARBAGE GARBAGE\r\n\r\nmore garbage")),
                   "The server sent a response that is not valid HTTP.", false},
        BinaryCase{"ContradictoryContentLengths",
                   Scripted(ScriptedServer::Reply(
                       HttpReply(200, "abc", "Content-Length: 3\r\nContent-Length: 4\r\n"))),
                   "The server sent a response that is not valid HTTP.", false},
        BinaryCase{"HeaderLineTooLong",
                   Scripted(ScriptedServer::Reply(
                       HttpReply(200, "ok", "X-Long: " + std::string(400 * 1024, 'a') + "\r\n"))),
                   "The server's response headers were too large to read.", false},
        BinaryCase{"HeaderBlockTooLarge", Scripted(ScriptedServer::Reply([] {
                       std::string headers;
                       for (int i = 0; i < 400; ++i)
                           headers += "X-Many-" + std::to_string(i) + ": " +
                                      std::string(1000, 'b') + "\r\n";
                       return HttpReply(200, "ok", headers);
                   }())),
                   "The server's response headers were too large to read.", false},
        BinaryCase{"RedirectLoop",
                   Scripted(ScriptedServer::Reply(
                       "HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0\r\n\r\n")),
                   "Gave up following redirects: the server sent too many of them.", false},
        BinaryCase{"RedirectToFile",
                   Scripted(ScriptedServer::Reply(
                       "HTTP/1.1 302 Found\r\nLocation: file:///etc/hostname\r\n"
                       "Content-Length: 0\r\n\r\n")),
                   "The server redirected the request to an address that is neither http nor "
                   "https.",
                   false},
        // The user's URL was fine: the report names the redirect, not the address
        // given.
        BinaryCase{"RedirectToPortOutOfRange",
                   Scripted(ScriptedServer::Reply(
                       "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:99999/x\r\n"
                       "Content-Length: 0\r\n\r\n")),
                   "The server redirected the request to an address that is not a valid URL.",
                   false},
        BinaryCase{"RedirectToUnclosedIpv6Literal",
                   Scripted(ScriptedServer::Reply("HTTP/1.1 302 Found\r\nLocation: "
                                                  "http://[::1/x\r\nContent-Length: 0\r\n\r\n")),
                   "The server redirected the request to an address that is not a valid URL.",
                   false},
        // A line that begins with a blank right after the status line continues nothing.
        BinaryCase{"FirstHeaderLineBeginsWithABlank",
                   Scripted(ScriptedServer::Reply(
                       "HTTP/1.1 200 OK\r\n X-A: 1\r\nContent-Length: 2\r\n\r\nhi")),
                   "The server sent a response that is not valid HTTP.", false},
        BinaryCase{"SelfSignedCertificate",
                   [](std::shared_ptr<void>& keeper, ProcessOptions&) {
                       auto nginx =
                           std::make_shared<NginxServer>(NginxServer::TlsConfig("selfsigned"));
                       WriteFile(nginx->Root() + "/file.bin", "secret");
                       keeper = nginx;
                       return std::vector<std::string>{nginx->Url("/file.bin")};
                   },
                   "The server's certificate is not signed by a trusted authority.", false}};
}

INSTANTIATE_TEST_SUITE_P(RealFailures, FailureReport, testing::ValuesIn(FailureCases()),
                         [](const testing::TestParamInfo<BinaryCase>& info) {
                             return info.param.name;
                         });

// A proxy's refusal reads as its status, whether it refuses a request sent through it (http) or
// the tunnel that an https request needs (CONNECT); its own words, control characters and all,
// are not the report.
TEST(FailureReport, ProxyRefusalReadsAsItsStatusBothWays) {
    const RefusingPort nowhere;  // never contacted: the proxy refuses for it
    for (const char* variable : {"http_proxy", "https_proxy"}) {
        ScriptedServer proxy(ScriptedServer::Reply(
            "HTTP/1.1 403 Tunnel\x1b[2J refused\r\nContent-Length: 4\r\n\r\nnope"));
        ProcessOptions options;
        options.environment = {std::string(variable) + "=" + proxy.Url("")};
        TempDir folder;
        const std::string scheme = std::string(variable) == "http_proxy" ? "http" : "https";
        const ProcessResult run = RunKorrinBinary(
            {scheme + "://127.0.0.1:" + std::to_string(nowhere.Port()) + "/file.bin", "-o",
             folder.File("out")},
            options);
        EXPECT_EQ(run.exitStatus, 1) << variable;
        EXPECT_TRUE(EndsWith(run.standardOutput,
                             "\nError 403 retrieving file: \n\nPress any key to continue..."))
            << variable << ": " << run.standardOutput;
        EXPECT_FALSE(FileExists(folder.File("out"))) << variable;
        ASSERT_EQ(proxy.Requests().size(), 1u) << variable;
        EXPECT_EQ(
            proxy.Requests()[0].rfind(scheme == "http" ? "GET http://" : "CONNECT 127.0.0.1:", 0),
            0u)
            << proxy.Requests()[0];
    }
}

// The program trusts only the system's certificate store and keeps its time-outs long; these
// failures need the test CA trusted or short time-outs, which only a caller inside the process
// can set, so they are shown through DownloadFile.
InProcessRun Download(std::uint16_t port, bool secure, const SessionSettings& settings,
                      const std::string& outputPath) {
    return DownloadInProcess(port, "/file.bin", secure, settings, outputPath);
}

// The front end's line for a failure with this text.
std::string Verdict(const std::string& errorText) {
    char verdict[2048];
    std::snprintf(verdict, sizeof verdict, messages::retrievalFailed, errorText.c_str());
    return verdict;
}

struct CertificateCase {
    const char* name;
    const char* certificate;
    std::string text;
};

class CertificateReport : public testing::TestWithParam<CertificateCase> {};

TEST_P(CertificateReport, NamesWhatIsWrongWithTheCertificate) {
    const CertificateCase& c = GetParam();
    NginxServer nginx(NginxServer::TlsConfig(c.certificate));
    WriteFile(nginx.Root() + "/file.bin", "secret");
    TempDir folder;
    const InProcessRun run = Download(nginx.Port(), true, TrustingTestCa(), folder.File("out"));
    if (c.text.empty()) {
        // The test CA is trusted, so the other cases fail for their own reason only.
        EXPECT_EQ(run.result, 200) << run.errorText << nginx.ErrorLog();
        EXPECT_EQ(ReadFile(folder.File("out")), "secret");
        return;
    }
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.errorText, c.text);
    EXPECT_EQ(Verdict(run.errorText), "Error retrieving file: " + c.text + "\n");
    EXPECT_FALSE(FileExists(folder.File("out")));
}

INSTANTIATE_TEST_SUITE_P(
    TestCaTrusted, CertificateReport,
    testing::Values(CertificateCase{"Valid", "valid", ""},
                    CertificateCase{"Expired", "expired",
                                    "The server's certificate has expired or is not yet valid."},
                    CertificateCase{"WrongName", "wrongname",
                                    "The server's certificate was issued for another name."},
                    CertificateCase{
                        "SelfSigned", "selfsigned",
                        "The server's certificate is not signed by a trusted authority."}),
    [](const testing::TestParamInfo<CertificateCase>& info) { return info.param.name; });

// Over TLS, a body that ends with the connection (no length, no chunking) is complete only when
// the server ends the TLS session with close_notify: without it, anyone on the path could have
// cut the download short. A body whose length is known ends where the length says.
struct TlsEndCase {
    const char* name;
    std::string reply;
    bool cutOff;       // the TCP connection closes without close_notify
    std::string text;  // empty: the download ends with the answer's status
    int status = 200;  // the answer's status; only a 200 opens the file; 0 for no answer
};

class TlsEnd : public testing::TestWithParam<TlsEndCase> {};

TEST_P(TlsEnd, OnlyAProperEndCompletesABodyThatEndsWithTheConnection) {
    const TlsEndCase& c = GetParam();
    TlsServer server([&c](TlsConnection& connection) {
        connection.Send(c.reply);
        if (c.cutOff) connection.CutOff();
    });
    TempDir folder;
    const InProcessRun run = Download(server.Port(), true, TrustingTestCa(), folder.File("out"));
    EXPECT_EQ(run.result, c.text.empty() ? c.status : -1) << run.errorText;
    EXPECT_EQ(run.errorText, c.text);
    if (c.status != 200) {
        EXPECT_FALSE(FileExists(folder.File("out")));
        return;
    }
    EXPECT_EQ(ReadFile(folder.File("out")), "0123456789") << "the bytes that arrived are kept";
}

INSTANTIATE_TEST_SUITE_P(
    Table, TlsEnd,
    testing::Values(
        TlsEndCase{"CloseDelimitedEndedProperly", "HTTP/1.0 200 OK\r\n\r\n0123456789", false, ""},
        TlsEndCase{"CloseDelimitedCutOff", "HTTP/1.0 200 OK\r\n\r\n0123456789", true,
                   "The secure connection was cut off before the server ended it: the file may be "
                   "incomplete."},
        TlsEndCase{"LengthKnownCutOffAfterTheBody", HttpReply(200, "0123456789"), true, ""},
        // A head cut before its empty line is a cut head, whether or not the TLS session ended.
        TlsEndCase{"HeadCutOffMidLine", "HTTP/1.0 200 OK\r\nX-Long: abc", true,
                   "The connection closed before the response headers had all arrived.", 0},
        TlsEndCase{"HeadCutOffAfterALine", "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n", true,
                   "The connection closed before the response headers had all arrived.", 0},
        // An answer that has no body cannot be cut short.
        TlsEndCase{"NoContentCutOff", "HTTP/1.0 204 No Content\r\n\r\n", true, "", 204},
        // The chunked coding frames the body wherever it is named, on any of the coding lines,
        // and its last chunk ends the body whether or not close_notify follows.
        TlsEndCase{"ChunkedOnASecondCodingLineCutAfterTheBody",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\nTransfer-Encoding: "
                   "chunked\r\n\r\na\r\n0123456789\r\n0\r\n\r\n",
                   true, ""},
        TlsEndCase{"ChunkedAmongSeveralCodingsCutAfterTheBody",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity , CHUNKED\r\n\r\n"
                   "a\r\n0123456789\r\n0\r\n\r\n",
                   true, ""},
        // A line that begins with a carriage return ends libcurl's head, while the head that
        // the layer reads goes on: the bytes that libcurl then hands over as the body come
        // while that head is open, and are no valid answer, however the connection ends.
        TlsEndCase{"LineStartingWithACarriageReturnCutOff",
                   "HTTP/1.0 200 OK\r\n\rX-Note: y\r\n\r\n0123456789", true,
                   "The server sent a response that is not valid HTTP.", 0},
        TlsEndCase{"LineStartingWithACarriageReturnEndedProperly",
                   "HTTP/1.0 200 OK\r\n\rX-Note: y\r\n\r\n0123456789", false,
                   "The server sent a response that is not valid HTTP.", 0}),
    [](const testing::TestParamInfo<TlsEndCase>& info) { return info.param.name; });

// A listener whose accept queue is full drops every further connection request unanswered, so
// a connect to it never completes.
TEST(TimeOut, ConnectThatNeverCompletes) {
    const BoundSocket bound = BindLoopback(0);
    const Socket listener(bound.fd);
    const std::uint16_t port = bound.port;
    const Socket filler(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in where = Loopback(port);
    ASSERT_EQ(connect(filler.Fd(), reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    pollfd queued{listener.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&queued, 1, 60000), 1) << "the filler connection never reached the queue";

    SessionSettings settings;
    settings.connectTimeout = std::chrono::seconds(1);
    TempDir folder;
    const auto start = std::chrono::steady_clock::now();
    const InProcessRun run = Download(port, false, settings, folder.File("out"));
    // A time-out lasts as long as it says: no sooner than about its second.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.errorText, "The server did not accept the connection within the time allowed.");
    EXPECT_FALSE(FileExists(folder.File("out")));
}

TEST(TimeOut, ServerStallsMidBody) {
    ScriptedServer server([](const std::string&, ScriptedConnection& connection) {
        connection.Send(partialReply);
        connection.WaitForPeerClose(std::chrono::seconds(60));
    });
    SessionSettings settings;
    settings.stallTimeout = std::chrono::seconds(1);
    TempDir folder;
    const auto start = std::chrono::steady_clock::now();
    const InProcessRun run = Download(server.Port(), false, settings, folder.File("out"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.errorText, "The transfer stalled: no data arrived from the server for too long.");
    EXPECT_EQ(ReadFile(folder.File("out")), "0123456789");
}

// A redirect (its body framed by the connection's close) to a server that never accepts: the
// connection to it is timed by the connect limit, not counted as a silence of the transfer's,
// even where the stall limit is the shorter one.
TEST(TimeOut, ConnectAfterARedirectIsNoStall) {
    const BoundSocket bound = BindLoopback(0);
    const Socket listener(bound.fd);
    const Socket filler(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in where = Loopback(bound.port);
    ASSERT_EQ(connect(filler.Fd(), reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    pollfd queued{listener.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&queued, 1, 5000), 1) << "the filler connection never reached the queue";
    const std::string location =
        "http://127.0.0.1:" + std::to_string(bound.port) + "/never-accepted";
    ScriptedServer server([&location](const std::string&, ScriptedConnection& connection) {
        connection.Send("HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n\r\nmoved");
    });

    SessionSettings settings;
    settings.connectTimeout = std::chrono::seconds(2);
    settings.stallTimeout = std::chrono::seconds(1);
    TempDir folder;
    const InProcessRun run = Download(server.Port(), false, settings, folder.File("out"));
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.errorText, "The server did not accept the connection within the time allowed.");
    EXPECT_FALSE(FileExists(folder.File("out")));
}

// The output is a FIFO whose reader is away for longer than the stall limit, while the program
// holds everything the server has sent so far and waits writing it; the rest comes soon after the
// reader is back. The time spent writing is no silence of the server's: the stall limit counts
// from the end of the write, and the download completes.
TEST(TimeOut, SlowReaderOfTheOutputIsNoStall) {
    // One byte more than the output's buffer: the program writes its first block only once the
    // last byte of this part has been heard.
    std::string first(std::size_t{128} * 1024 + 1, '\0');
    for (std::size_t i = 0; i < first.size(); ++i) first[i] = static_cast<char>('a' + i % 26);
    const std::string rest = "and the rest";
    std::promise<void> back;
    std::shared_future<void> readerBack = back.get_future().share();
    ScriptedServer server([&](const std::string&, ScriptedConnection& connection) {
        connection.Send(HttpReply(
            200, first, "Content-Length: " + std::to_string(first.size() + rest.size()) + "\r\n"));
        if (readerBack.wait_for(std::chrono::seconds(30)) != std::future_status::ready) return;
        // The server's own pace, well inside the limit counted from the reader's return.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        connection.Send(rest);
    });
    TempDir folder;
    const std::string fifo = folder.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opened for reading before the program opens it, with the smallest capacity, so that its
    // first block waits for the reader.
    const int in = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(in, 0);
    fcntl(in, F_SETPIPE_SZ, 4096);
    fcntl(in, F_SETFL, 0);
    std::string received;
    std::thread reader([in, &received, &back] {
        // The reader's own absence, longer than the stall limit: what the test is about.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        back.set_value();
        char buffer[65536];
        ssize_t n = 0;
        while ((n = read(in, buffer, sizeof buffer)) > 0)
            received.append(buffer, static_cast<std::size_t>(n));
    });
    SessionSettings settings;
    settings.stallTimeout = std::chrono::seconds(2);
    const InProcessRun run = Download(server.Port(), false, settings, fifo);
    reader.join();
    close(in);
    EXPECT_EQ(run.result, 200) << run.errorText;
    EXPECT_TRUE(received == first + rest) << "received " << received.size() << " bytes";
}

}  // namespace
}  // namespace korrin::test
