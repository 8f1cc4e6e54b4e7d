// The built program against the servers that users meet: apache2 (mod_ssl, Basic and Digest
// authentication, CGI, redirects between http and https), lighttpd (Digest authentication) and
// squid as a forward proxy (Basic proxy authentication, http_proxy and CONNECT), each started
// from the suite's own configuration on loopback addresses and free ports.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/ApacheServer.h"
#include "support/ConsoleTexts.h"
#include "support/LighttpdServer.h"
#include "support/Process.h"
#include "support/SquidServer.h"

namespace korrin::test {
namespace {

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Random bytes, the same for the same seed.
std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const std::uint64_t word = generator();
        for (int b = 0; b < 8; ++b) bytes[i + b] = static_cast<char>(word >> (8 * b));
    }
    return bytes;
}

// The last lines of a download to a file that failed with text.
std::string FailedWith(const std::string& text) {
    return "Error retrieving file: " + text + "\n" + pause;
}
// ...and of one whose answer had an HTTP status other than 200 (text: the front end's words).
std::string StatusWas(int status, const std::string& text = "") {
    return "Error " + std::to_string(status) + " retrieving file: " + text + "\n" + pause;
}

// One run of the program to a file in its own folder.
struct Download {
    ProcessResult run;
    std::string stored;  // the output file's bytes
    bool fileExists = false;
};

Download Fetch(std::vector<std::string> arguments, const std::vector<std::string>& environment,
               std::chrono::seconds timeout = std::chrono::seconds(60)) {
    TempDir folder;
    arguments.insert(arguments.end(), {"-o", folder.File("out")});
    ProcessOptions options;
    options.environment = environment;
    options.timeout = timeout;  // far above the normal run: trips only on a hang
    Download download;
    download.run = RunKorrinBinary(arguments, options);
    download.fileExists = FileExists(folder.File("out"));
    if (download.fileExists) download.stored = ReadFile(folder.File("out"));
    return download;
}

// The source of every download from apache2: what its file holds and its streaming CGI sends.
constexpr std::size_t sourceSize = 262144;

class Apache : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        server = new ApacheServer();
        source = RandomBytes(sourceSize, 26);
        for (const char* folder : {"/basic", "/digest"}) {
            mkdir((server->Root() + folder).c_str(), 0755);
            WriteFile(server->Root() + folder + "/source.bin", source);
        }
        WriteFile(server->Root() + "/source.bin", source);
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    // The access log's lines since the test began, once count of them have been written, in the
    // order in which their requests began, without the time that orders them.
    std::vector<std::string> NewLogLines(std::size_t count) const {
        const std::string log = server->AccessLog(logLinesBefore + count);
        std::vector<std::pair<unsigned long long, std::string>> lines;
        std::size_t start = 0;
        for (std::size_t end = log.find('\n'); end != std::string::npos;
             start = end + 1, end = log.find('\n', start)) {
            const std::string line = log.substr(start, end - start);
            const std::size_t blank = line.find(' ');
            lines.emplace_back(std::strtoull(line.c_str(), nullptr, 10),
                               blank == std::string::npos ? line : line.substr(blank + 1));
        }
        lines.erase(lines.begin(), lines.begin() + static_cast<long>(logLinesBefore));
        std::stable_sort(lines.begin(), lines.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::string> texts;
        for (auto& line : lines) texts.push_back(std::move(line.second));
        return texts;
    }
    void SetUp() override {
        const std::string log = server->AccessLog(0);
        logLinesBefore = static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
    }

    static ApacheServer* server;
    static std::string source;
    std::size_t logLinesBefore = 0;
};
ApacheServer* Apache::server = nullptr;
std::string Apache::source;

struct ApacheCase {
    const char* name;
    bool https;            // the URL is the https one
    const char* path;      // on the server
    bool withCredentials;  // -u and -p of the server's user
    // What the access log holds, in order, as "<server name> <request line> <status> user=..
    // auth=..", with PATH for the path.
    std::vector<std::string> log;
};

class ApacheDownload : public Apache, public testing::WithParamInterface<ApacheCase> {};

// Each download arrives whole and is stored byte for byte; credentials go out only once the
// server has asked for them.
TEST_P(ApacheDownload, StoresTheFileAsTheServerHasIt) {
    const ApacheCase& c = GetParam();
    std::vector<std::string> arguments{c.https ? server->HttpsUrl(c.path)
                                               : server->HttpUrl(c.path)};
    if (c.withCredentials)
        arguments.insert(arguments.end(),
                         {"-u", ApacheServer::userName, "-p", ApacheServer::password});
    const Download download = Fetch(arguments, {server->TrustVariable()});
    EXPECT_EQ(download.run.exitStatus, 0) << download.run.standardOutput << server->ErrorLog();
    EXPECT_TRUE(EndsWith(download.run.standardOutput, closingLine + retrievedOk))
        << download.run.standardOutput;
    EXPECT_TRUE(download.stored == source) << "the stored file differs from the source";
    EXPECT_EQ(NewLogLines(c.log.size()), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApacheDownload,
    testing::Values(
        ApacheCase{"Http",
                   false,
                   "/source.bin",
                   false,
                   {"127.0.0.1 GET /source.bin HTTP/1.1 200 user=- auth=-"}},
        ApacheCase{"Https",
                   true,
                   "/source.bin",
                   false,
                   {"127.0.0.2 GET /source.bin HTTP/1.1 200 user=- auth=-"}},
        ApacheCase{"HttpsBasic",
                   true,
                   "/basic/source.bin",
                   true,
                   {"127.0.0.2 GET /basic/source.bin HTTP/1.1 401 user=- auth=-",
                    "127.0.0.2 GET /basic/source.bin HTTP/1.1 200 user=reader auth=present"}},
        ApacheCase{"HttpsDigest",
                   true,
                   "/digest/source.bin",
                   true,
                   {"127.0.0.2 GET /digest/source.bin HTTP/1.1 401 user=- auth=-",
                    "127.0.0.2 GET /digest/source.bin HTTP/1.1 200 user=reader auth=present"}},
        ApacheCase{"HttpDigest",
                   false,
                   "/digest/source.bin",
                   true,
                   {"127.0.0.1 GET /digest/source.bin HTTP/1.1 401 user=- auth=-",
                    "127.0.0.1 GET /digest/source.bin HTTP/1.1 200 user=reader auth=present"}},
        ApacheCase{"RedirectIntoHttps",
                   false,
                   "/to-https/source.bin",
                   false,
                   {"127.0.0.1 GET /to-https/source.bin HTTP/1.1 302 user=- auth=-",
                    "127.0.0.2 GET /source.bin HTTP/1.1 200 user=- auth=-"}},
        ApacheCase{"RedirectOutOfHttps",
                   true,
                   "/to-http/source.bin",
                   false,
                   {"127.0.0.2 GET /to-http/source.bin HTTP/1.1 302 user=- auth=-",
                    "127.0.0.1 GET /source.bin HTTP/1.1 200 user=- auth=-"}},
        // No length: under HTTP/1.1 apache2 frames the script's output with chunks.
        ApacheCase{"StreamedCgiWithoutLength",
                   false,
                   "/cgi-bin/stream.cgi",
                   false,
                   {"127.0.0.1 GET /cgi-bin/stream.cgi HTTP/1.1 200 user=- auth=-"}},
        ApacheCase{"StreamedCgiWithoutLengthOverHttps",
                   true,
                   "/cgi-bin/stream.cgi",
                   false,
                   {"127.0.0.2 GET /cgi-bin/stream.cgi HTTP/1.1 200 user=- auth=-"}}),
    [](const testing::TestParamInfo<ApacheCase>& info) { return info.param.name; });

// A script that sends half of its output and then stalls until apache2's Timeout ends the
// answer: the body's chunks never end, so the download is cut, not whole, and the bytes that
// arrived are kept.
TEST_F(Apache, StalledCgiIsACutDownloadNotAWholeOne) {
    const Download download = Fetch({server->HttpUrl("/cgi-bin/stall.cgi")}, {});
    EXPECT_EQ(download.run.exitStatus, 1);
    EXPECT_TRUE(
        EndsWith(download.run.standardOutput,
                 "\n" + FailedWith("The connection closed before the whole file had arrived.")))
        << download.run.standardOutput;
    EXPECT_TRUE(download.stored == source.substr(0, sourceSize / 2))
        << download.stored.size() << " bytes stored";
    EXPECT_EQ(NewLogLines(1), std::vector<std::string>{
                                  "127.0.0.1 GET /cgi-bin/stall.cgi HTTP/1.1 200 user=- auth=-"});
}

TEST_F(Apache, WrongOrMissingCredentialsAreRefused) {
    for (const char* path : {"/basic/source.bin", "/digest/source.bin"}) {
        const Download wrong =
            Fetch({server->HttpsUrl(path), "-u", ApacheServer::userName, "-p", "not the password"},
                  {server->TrustVariable()});
        EXPECT_EQ(wrong.run.exitStatus, 1) << path;
        EXPECT_TRUE(EndsWith(wrong.run.standardOutput, StatusWas(401, "Bad username or password.")))
            << path << ": " << wrong.run.standardOutput;
        EXPECT_FALSE(wrong.fileExists) << path;

        const Download none = Fetch({server->HttpsUrl(path)}, {server->TrustVariable()});
        EXPECT_EQ(none.run.exitStatus, 1) << path;
        EXPECT_TRUE(EndsWith(none.run.standardOutput, StatusWas(401, "Bad username or password.")))
            << path << ": " << none.run.standardOutput;
    }
    // The wrong password went out once, after the challenge; no credentials went without one.
    const std::vector<std::string> lines = NewLogLines(6);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "127.0.0.2 GET /basic/source.bin HTTP/1.1 401 user=- auth=-");
    EXPECT_EQ(lines[1].rfind("127.0.0.2 GET /basic/source.bin HTTP/1.1 401 user=reader "
                             "auth=present",
                             0),
              0u)
        << lines[1];
    EXPECT_EQ(lines[2], "127.0.0.2 GET /basic/source.bin HTTP/1.1 401 user=- auth=-");
    EXPECT_EQ(lines[5], "127.0.0.2 GET /digest/source.bin HTTP/1.1 401 user=- auth=-");
}

// A body far larger than any buffer, over TLS.
TEST_F(Apache, LargeFileOverHttpsArrivesWhole) {
    const std::string large = RandomBytes(std::size_t{100} << 20, 100);
    WriteFile(server->Root() + "/large.bin", large);
    const Download download = Fetch({server->HttpsUrl("/large.bin")}, {server->TrustVariable()},
                                    std::chrono::seconds(120));
    EXPECT_FALSE(download.run.timedOut);
    EXPECT_EQ(download.run.exitStatus, 0) << server->ErrorLog();
    EXPECT_TRUE(EndsWith(download.run.standardOutput, retrievedOk));
    EXPECT_TRUE(download.stored == large) << download.stored.size() << " bytes stored";
    std::remove((server->Root() + "/large.bin").c_str());
}

// squid in front of apache2: asked for the URL (http_proxy), or for a tunnel to the https port
// (https_proxy, CONNECT).
class Squid : public Apache {
  protected:
    static void SetUpTestSuite() {
        Apache::SetUpTestSuite();
        proxy = new SquidServer(server->HttpsPort());
    }
    static void TearDownTestSuite() {
        delete proxy;
        proxy = nullptr;
        Apache::TearDownTestSuite();
    }
    static SquidServer* proxy;
};
SquidServer* Squid::proxy = nullptr;

TEST_F(Squid, ForwardsAndTunnelsForItsUser) {
    const Download viaGet =
        Fetch({server->HttpUrl("/source.bin")}, {"http_proxy=" + proxy->ProxyUrl(true)});
    EXPECT_EQ(viaGet.run.exitStatus, 0) << viaGet.run.standardOutput;
    EXPECT_TRUE(viaGet.stored == source);
    const Download viaTunnel =
        Fetch({server->HttpsUrl("/basic/source.bin"), "-u", ApacheServer::userName, "-p",
               ApacheServer::password},
              {"https_proxy=" + proxy->ProxyUrl(true), server->TrustVariable()});
    EXPECT_EQ(viaTunnel.run.exitStatus, 0) << viaTunnel.run.standardOutput;
    EXPECT_TRUE(viaTunnel.stored == source);
    const std::string log = proxy->AccessLog(3);
    EXPECT_NE(log.find("GET " + server->HttpUrl("/source.bin") + " 200 user=proxyuser"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("CONNECT 127.0.0.2:" + std::to_string(server->HttpsPort()) +
                       " 200 user=proxyuser"),
              std::string::npos)
        << log;
}

// The proxy's refusal reads as its status, the same whether it refused the request or the
// tunnel: 407 without its credentials, 403 for a tunnel to a port it does not allow.
TEST_F(Squid, RefusalReadsAsItsStatusBothWays) {
    struct Refusal {
        std::string url;
        std::string variable;
        int status;
    };
    const std::string otherPort = "https://127.0.0.2:" + std::to_string(server->HttpsPort() + 1);
    for (const Refusal& r :
         {Refusal{server->HttpUrl("/source.bin"), "http_proxy=" + proxy->ProxyUrl(false), 407},
          Refusal{server->HttpsUrl("/source.bin"), "https_proxy=" + proxy->ProxyUrl(false), 407},
          Refusal{otherPort + "/source.bin", "https_proxy=" + proxy->ProxyUrl(true), 403}}) {
        const Download download = Fetch({r.url}, {r.variable, server->TrustVariable()});
        EXPECT_EQ(download.run.exitStatus, 1) << r.url;
        EXPECT_TRUE(EndsWith(download.run.standardOutput, "\n" + StatusWas(r.status)))
            << r.variable << " " << r.url << ": " << download.run.standardOutput;
        EXPECT_FALSE(download.fileExists) << r.url;
    }
}

class Lighttpd : public testing::Test {
  protected:
    LighttpdServer server;
};

TEST_F(Lighttpd, DigestWithRightAndWrongCredentials) {
    const std::string body = RandomBytes(65536, 3);
    mkdir((server.Root() + "/digest").c_str(), 0755);
    WriteFile(server.Root() + "/digest/file.bin", body);
    WriteFile(server.Root() + "/plain.bin", body);

    const Download plain = Fetch({server.Url("/plain.bin")}, {});
    EXPECT_EQ(plain.run.exitStatus, 0) << plain.run.standardOutput;
    EXPECT_TRUE(plain.stored == body);

    const Download right = Fetch({server.Url("/digest/file.bin"), "-u", LighttpdServer::userName,
                                  "-p", LighttpdServer::password},
                                 {});
    EXPECT_EQ(right.run.exitStatus, 0) << right.run.standardOutput;
    EXPECT_TRUE(EndsWith(right.run.standardOutput, closingLine + retrievedOk));
    EXPECT_TRUE(right.stored == body);

    const Download wrong =
        Fetch({server.Url("/digest/file.bin"), "-u", LighttpdServer::userName, "-p", "wrong"}, {});
    EXPECT_EQ(wrong.run.exitStatus, 1);
    EXPECT_TRUE(EndsWith(wrong.run.standardOutput, StatusWas(401, "Bad username or password.")))
        << wrong.run.standardOutput;
    EXPECT_FALSE(wrong.fileExists);

    EXPECT_EQ(server.AccessLog(5),
              "GET /plain.bin HTTP/1.1 200 user=-\n"
              "GET /digest/file.bin HTTP/1.1 401 user=-\n"
              "GET /digest/file.bin HTTP/1.1 200 user=reader\n"
              "GET /digest/file.bin HTTP/1.1 401 user=-\n"
              "GET /digest/file.bin HTTP/1.1 401 user=-\n");
}

}  // namespace
}  // namespace korrin::test
