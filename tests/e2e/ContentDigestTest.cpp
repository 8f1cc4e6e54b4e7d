// Checksums sent by the server with a 200 answer, against the real binary and a scripted server on
// loopback: a body that matches, or one that comes with no checksum korrin knows or none in a form
// it can compare, is a success as before; a body that does not match is a failure, and the bytes
// stay where they were written.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/ConsoleTexts.h"
#include "support/NginxServer.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"
#include "transfer/DownloadFile.h"

namespace korrin::test {
namespace {

const std::string mismatchVerdict =
    "Error retrieving file: The file that arrived does not match the checksum the server sent.\n"
    "\nPress any key to continue...";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A body of several 1024-byte reads whose bytes differ from place to place, line ends included.
std::string PatternBody(std::size_t length) {
    std::string body(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        body[i] = i % 61 == 60 ? '\n' : static_cast<char>('a' + (i * 7 + i / 26) % 26);
    }
    return body;
}

// The base64 of data's digest, made here with OpenSSL's one-shot calls.
std::string Base64Digest(const EVP_MD* algorithm, const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, algorithm, nullptr);
    std::string text(4 * ((length + 2) / 3) + 1, '\0');
    text.resize(static_cast<std::size_t>(EVP_EncodeBlock(
        reinterpret_cast<unsigned char*>(text.data()), digest, static_cast<int>(length))));
    return text;
}

std::string Sha256(const std::string& data) { return Base64Digest(EVP_sha256(), data); }

std::string Sha256Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        text += pair;
    }
    return text;
}
std::string Sha512(const std::string& data) { return Base64Digest(EVP_sha512(), data); }

// A 200 answer with body in chunks of 1000 bytes.
std::string ChunkedReply(const std::string& body, const std::string& headers) {
    std::string reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n" + headers + "\r\n";
    for (std::size_t at = 0; at < body.size(); at += 1000) {
        const std::string chunk = body.substr(at, 1000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        reply += size + chunk + "\r\n";
    }
    return reply + "0\r\n\r\n";
}

const std::string body = PatternBody(5000);
const std::string otherBody = [] {
    std::string changed = body;
    changed[4321] ^= 1;
    return changed;
}();
// A real gzip stream: what the server sends, and what is stored and checked, undecoded.
const std::string gzipBytes(
    "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff\xcb\x48\xcd\xc9\xc9\xd7\x51\xc8\x40\xa2\xb8\x32\x88"
    "\x14\x03\x00\xa6\x89\xb6\x56\x3c\x00\x00\x00",
    34);
const std::string gzipDecoded = [] {
    std::string text;
    for (int i = 0; i < 3; ++i) text += "hello, hello, hello\n";
    return text;
}();

struct DigestCase {
    const char* name;
    std::string reply;
    std::string stored;  // what the file and standard output receive either way
    bool matches;
};

void PrintTo(const DigestCase& c, std::ostream* out) { *out << c.name; }

std::vector<DigestCase> DigestCases() {
    return {
        {"CorrectSha256ContentDigest",
         HttpReply(200, body, "Content-Digest: sha-256=:" + Sha256(body) + ":\r\n"), body, true},
        {"WrongSha256ContentDigest",
         HttpReply(200, body, "Content-Digest: sha-256=:" + Sha256(otherBody) + ":\r\n"), body,
         false},
        {"CorrectSha512ReprDigest",
         HttpReply(200, body, "Repr-Digest: sha-512=:" + Sha512(body) + ":\r\n"), body, true},
        {"LegacyDigestSha256", HttpReply(200, body, "Digest: SHA-256=" + Sha256(body) + "\r\n"),
         body, true},
        {"WrongLegacyDigestSha512",
         HttpReply(200, body, "Digest: SHA-512=" + Sha512(otherBody) + "\r\n"), body, false},
        // Wrong values under algorithms korrin does not use vouch for nothing.
        {"UnknownAlgorithmsOnly",
         HttpReply(
             200, body,
             "Content-Digest: md5=:" + Sha256(otherBody) +
                 ":, sha-3=:AAAA:\r\n"
                 "Digest: MD5=XrY7u+Ae7tCTyyK7j1rNww==, SHA=Kq5sNclPz7QV2+lfQIuc6R7oRu0=\r\n"),
         body, true},
        {"OneOfTwoAlgorithmsWrong",
         HttpReply(200, body,
                   "Content-Digest: sha-512=:" + Sha512(body) + ":, sha-256=:" + Sha256(otherBody) +
                       ":\r\n"),
         body, false},
        // A checksum in the wrong form can be compared with nothing: it fails no download.
        {"KnownAlgorithmMalformedValue",
         HttpReply(200, body, "Content-Digest: sha-256=:not base64!:\r\n"), body, true},
        {"LegacyDigestInHex", HttpReply(200, body, "Digest: SHA-256=" + Sha256Hex(body) + "\r\n"),
         body, true},
        {"LegacyDigestInHexBesideAWrongOne",
         HttpReply(
             200, body,
             "Digest: SHA-256=" + Sha256Hex(body) + ", SHA-512=" + Sha512(otherBody) + "\r\n"),
         body, false},
        // Both fields are checked, whichever of them is wrong.
        {"ContentDigestRightReprDigestWrong",
         HttpReply(200, body,
                   "Content-Digest: sha-256=:" + Sha256(body) +
                       ":\r\nRepr-Digest: sha-256=:" + Sha256(otherBody) + ":\r\n"),
         body, false},
        {"ContentDigestWrongReprDigestRight",
         HttpReply(200, body,
                   "Content-Digest: sha-256=:" + Sha256(otherBody) +
                       ":\r\nRepr-Digest: sha-256=:" + Sha256(body) + ":\r\n"),
         body, false},
        // The quoted string holds a comma and a member-like text; the member after it is read.
        {"MemberAfterAnEscapedQuote",
         HttpReply(200, body,
                   "Content-Digest: note=\"a \\\", sha-256=:" + Sha256(body) +
                       ":\", sha-256=:" + Sha256(otherBody) + ":\r\n"),
         body, false},
        {"ChunkedBodyCorrectDigest",
         ChunkedReply(body, "Content-Digest: sha-256=:" + Sha256(body) + ":\r\n"), body, true},
        {"ChunkedBodyWrongDigest",
         ChunkedReply(body, "Content-Digest: sha-256=:" + Sha256(otherBody) + ":\r\n"), body,
         false},
        {"GzipDigestOfTheEncodedBytes",
         HttpReply(
             200, gzipBytes,
             "Content-Encoding: gzip\r\nContent-Digest: sha-256=:" + Sha256(gzipBytes) + ":\r\n"),
         gzipBytes, true},
        // Checked against the decoded text, the bytes that were sent do not match.
        {"GzipDigestOfTheDecodedText",
         HttpReply(
             200, gzipBytes,
             "Content-Encoding: gzip\r\nContent-Digest: sha-256=:" + Sha256(gzipDecoded) + ":\r\n"),
         gzipBytes, false},
    };
}

class ContentDigest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(ContentDigest, DecidesTheVerdictAndKeepsTheBytes) {
    const DigestCase& c = GetParam();
    ScriptedServer server(ScriptedServer::Reply(c.reply));

    TempDir folder;
    const std::string path = folder.File("out.bin");
    const ProcessResult toFile = RunKorrinBinary({server.Url("/file.bin"), "-o", path});
    EXPECT_FALSE(toFile.timedOut);
    EXPECT_EQ(toFile.standardError, "");
    const std::string& out = toFile.standardOutput;
    EXPECT_EQ(out.rfind(consoleStart, 0), 0u) << out;
    if (c.matches) {
        EXPECT_EQ(toFile.exitStatus, 0) << out;
        EXPECT_TRUE(EndsWith(out, closingLine + retrievedOk)) << out;
    } else {
        // The bar is ended where it stood, and no closing line claims a complete download.
        EXPECT_EQ(toFile.exitStatus, 1) << out;
        EXPECT_TRUE(EndsWith(out, "\n" + mismatchVerdict)) << out;
        EXPECT_EQ(out.find(closingLine), std::string::npos) << out;
    }
    EXPECT_EQ(ReadFile(path), c.stored);

    const ProcessResult toStdout = RunKorrinBinary({server.Url("/file.bin")});
    EXPECT_FALSE(toStdout.timedOut);
    EXPECT_EQ(toStdout.exitStatus, c.matches ? 0 : 1);
    EXPECT_EQ(toStdout.standardOutput, c.stored);

    // The request asks for no checksum: it is the same whether or not one comes back.
    for (const std::string& request : server.Requests()) {
        EXPECT_EQ(request.find("Digest"), std::string::npos) << request;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ContentDigest, ::testing::ValuesIn(DigestCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A real server that adds the header to a body of many deliveries: every piece is fed, across
// every pause of the transfer. The checksum of a redirect is not the final answer's and is not
// checked.
TEST(ContentDigestFromNginx, ChecksABodyOfManyDeliveriesAndOnlyTheFinalAnswer) {
    const std::string big = PatternBody(3 * 1024 * 1024 + 17);
    const std::string changed = [&big] {
        std::string copy = big;
        copy[big.size() / 2] ^= 1;
        return copy;
    }();
    NginxServer::Config config;
    config.serverDirectives =
        "location = /good.bin { add_header Content-Digest \"sha-256=:" + Sha256(big) +
        ":\"; }\n"
        "location = /bad.bin { add_header Repr-Digest \"sha-512=:" +
        Sha512(changed) +
        ":\"; }\n"
        "location = /moved { add_header Repr-Digest \"sha-512=:" +
        Sha512(changed) + ":\"; return 302 /good.bin; }\n";
    NginxServer nginx(config);
    WriteFile(nginx.Root() + "/good.bin", big);
    WriteFile(nginx.Root() + "/bad.bin", big);

    struct Case {
        const char* path;
        bool matches;
    };
    for (const Case& c : {Case{"/good.bin", true}, Case{"/bad.bin", false}, Case{"/moved", true}}) {
        SCOPED_TRACE(c.path);
        TempDir folder;
        const ProcessResult run = RunKorrinBinary({nginx.Url(c.path), "-o", folder.File("out")});
        EXPECT_EQ(run.exitStatus, c.matches ? 0 : 1) << run.standardOutput << nginx.ErrorLog();
        EXPECT_TRUE(EndsWith(run.standardOutput,
                             c.matches ? closingLine + retrievedOk : "\n" + mismatchVerdict))
            << run.standardOutput;
        EXPECT_TRUE(ReadFile(folder.File("out")) == big) << "the stored bytes differ";
    }
}

// The checksum is computed on a thread of its own while the body arrives. A connection that ends
// in the middle of the body fails the download as before, keeps the bytes that arrived, and leaves
// no thread behind. Run in-process, so that the server's script sees the download's threads.
TEST(ContentDigestInProcess, ABodyCutOffLeavesNothingRunning) {
    const int threadsBefore = ThreadCount() + 1;  // and the server's
    std::atomic<bool> workerSeen = false;
    const std::string part = body.substr(0, 3000);
    ScriptedServer server([&](const std::string&, ScriptedConnection& connection) {
        connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\nContent-Digest: sha-256=:" + Sha256(body) + ":\r\n\r\n" + part);
        // The body is cut off once the download hashes beside the transfer (bounded: a worker
        // that never starts leaves workerSeen false).
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!workerSeen && std::chrono::steady_clock::now() < giveUp) {
            workerSeen = ThreadCount() > threadsBefore;
        }
    });
    ASSERT_EQ(ThreadCount(), threadsBefore);

    TempDir folder;
    std::string errorText = "stale";
    DownloadJob job;
    job.server = "127.0.0.1";
    job.port = server.Port();
    job.object = "/cut.bin";
    job.outputPath = folder.File("out.bin");
    job.errorText = &errorText;
    job.agent = "korrin 1.4";
    EXPECT_EQ(DownloadFile(job), -1);
    EXPECT_EQ(errorText, "The connection closed before the whole file had arrived.");
    EXPECT_EQ(ThreadCount(), threadsBefore);
    EXPECT_TRUE(workerSeen);
    EXPECT_EQ(ReadFile(folder.File("out.bin")), part);
}

}  // namespace
}  // namespace korrin::test
