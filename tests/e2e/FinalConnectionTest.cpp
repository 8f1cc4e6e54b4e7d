// What counts about a download's connections is what happened on the last one, the one that
// carried the final answer: whether it was TLS, whether its server ended the TLS session with
// close_notify, whether it was ever made. A redirect changes all three. The test CA must be
// trusted and the connect time-out short, which only a caller inside the process can set, so
// these run through DownloadFile.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "support/InProcessDownload.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"
#include "support/TlsServer.h"
#include "transfer/DownloadFile.h"

namespace korrin::test {
namespace {

const std::string closeFramed = "HTTP/1.0 200 OK\r\n\r\n0123456789";
const std::string tlsCutOff =
    "The secure connection was cut off before the server ended it: the file may be incomplete.";

InProcessRun Download(std::uint16_t port, bool secure, const SessionSettings& settings,
                      const std::string& outputPath) {
    return DownloadInProcess(port, "/start", secure, settings, outputPath);
}

std::string Redirect(const std::string& location) {
    return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
}

std::string Https(std::uint16_t port) { return "https://127.0.0.1:" + std::to_string(port) + "/f"; }
std::string Http(std::uint16_t port) { return "http://127.0.0.1:" + std::to_string(port) + "/f"; }

// One server of a case: plain or TLS, what it sends, and whether a TLS server then cuts the
// connection without close_notify. A redirect's Location is filled in with the final server's
// URL.
struct Hop {
    bool tls;
    std::string reply;  // empty: a redirect to the final server
    bool cutOff = false;
};

struct ConnectionCase {
    const char* name;
    std::optional<Hop> first;  // nothing: the final server is asked directly
    Hop final;
    std::string text;  // empty: the download succeeds with the body
    std::string body = "0123456789";
};

// A running server for a hop, kept alive by the returned pointer; port receives its port.
std::shared_ptr<void> Start(const Hop& hop, const std::string& reply, std::uint16_t& port) {
    if (hop.tls) {
        const bool cutOff = hop.cutOff;
        auto server = std::make_shared<TlsServer>([reply, cutOff](TlsConnection& connection) {
            connection.Send(reply);
            if (cutOff) connection.CutOff();
        });
        port = server->Port();
        return server;
    }
    auto server = std::make_shared<ScriptedServer>(ScriptedServer::Reply(reply));
    port = server->Port();
    return server;
}

class FinalConnection : public testing::TestWithParam<ConnectionCase> {};

TEST_P(FinalConnection, DecidesWhetherABodyEndedByTheConnectionIsWhole) {
    const ConnectionCase& c = GetParam();
    std::uint16_t finalPort = 0;
    const auto finalServer = Start(c.final, c.final.reply, finalPort);
    std::uint16_t port = finalPort;
    bool secure = c.final.tls;
    std::shared_ptr<void> firstServer;
    if (c.first) {
        firstServer =
            Start(*c.first, Redirect(c.final.tls ? Https(finalPort) : Http(finalPort)), port);
        secure = c.first->tls;
    }
    TempDir folder;
    const InProcessRun run = Download(port, secure, TrustingTestCa(), folder.File("out"));
    EXPECT_EQ(run.result, c.text.empty() ? 200 : -1) << run.errorText;
    EXPECT_EQ(run.errorText, c.text);
    EXPECT_EQ(ReadFile(folder.File("out")), c.body) << "the bytes that arrived are kept";
}

INSTANTIATE_TEST_SUITE_P(
    Table, FinalConnection,
    testing::Values(
        ConnectionCase{"HttpToHttpsCutOff", Hop{false, ""}, Hop{true, closeFramed, true},
                       tlsCutOff},
        ConnectionCase{"HttpToHttpsEndedProperly", Hop{false, ""}, Hop{true, closeFramed}, ""},
        ConnectionCase{"HttpsToHttpPlainClose", Hop{true, ""}, Hop{false, closeFramed}, ""},
        // The first server's close_notify says nothing about the second connection.
        ConnectionCase{"HttpsToHttpsCutOff", Hop{true, ""}, Hop{true, closeFramed, true},
                       tlsCutOff},
        // Bodies whose end the answer itself marks cannot be cut short unnoticed.
        ConnectionCase{"LengthZeroCutOff", std::nullopt,
                       Hop{true, "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", true}, "", ""},
        ConnectionCase{"CapitalisedChunkedCutOffAfterTheLastChunk", std::nullopt,
                       Hop{true,
                           "HTTP/1.0 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\na\r\n0123456789"
                           "\r\n0\r\n\r\n",
                           true},
                       ""}),
    [](const testing::TestParamInfo<ConnectionCase>& info) { return info.param.name; });

// A socket that owns its descriptor.
class Socket {
  public:
    explicit Socket(int theFd) : fd(theFd) {}
    ~Socket() {
        if (fd >= 0) close(fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Fd() const { return fd; }

  private:
    int fd;
};

// A redirect to a listener whose accept queue is full, which drops every further connection
// request unanswered: the connection that fails is the redirect's, never made, although the first
// one was made and answered.
TEST(FinalConnectionTimeOut, RedirectTargetThatNeverAccepts) {
    const BoundSocket bound = BindLoopback(0);
    const Socket listener(bound.fd);
    const Socket filler(socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_GE(filler.Fd(), 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(bound.port);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(filler.Fd(), reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    pollfd queued{listener.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&queued, 1, 60000), 1) << "the filler connection never reached the queue";

    ScriptedServer first(ScriptedServer::Reply(Redirect(Http(bound.port))));
    SessionSettings settings;
    settings.connectTimeout = std::chrono::seconds(1);
    TempDir folder;
    const InProcessRun run = Download(first.Port(), false, settings, folder.File("out"));
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.errorText, "The server did not accept the connection within the time allowed.");
    EXPECT_FALSE(FileExists(folder.File("out")));
}

}  // namespace
}  // namespace korrin::test
