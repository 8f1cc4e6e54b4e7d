#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/Process.h"
#include "webaccess/BodyDigest.h"
#include "webaccess/ContentDigest.h"
#include "webaccess/DigestWorker.h"

namespace korrin {
namespace {

// Bytes from hexadecimal text, made independently of the decoder under test.
std::string Hex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The digests of "hello world\n", as bytes and as base64.
const std::string sha256Bytes =
    Hex("a948904f2f0f479b8f8197694b30184b0d2ed1c1cd2a1ec0fb85d299a192a447");
const std::string sha512Bytes = Hex(
    "db3974a97f2407b7cae1ae637c0030687a11913274d578492558e39c16c017de84eacdc8c62fe34ee4e12b4b1428"
    "817f09b6a2760c3f8a664ceae94d2434a593");
const std::string sha256Base64 = "qUiQTy8PR5uPgZdpSzAYSw0u0cHNKh7A+4XSmaGSpEc=";
const std::string sha512Base64 =
    "2zl0qX8kB7fK4a5jfAAwaHoRkTJ01XhJJVjjnBbAF96E6s3Ixi/jTuThK0sUKIF/Cbaidgw/imZM6ulNJDSlkw==";

const DigestCheck good256{DigestAlgorithm::sha256, sha256Bytes};
const DigestCheck good512{DigestAlgorithm::sha512, sha512Bytes};
// Well formed, and the digest of some other body.
const std::string zeros256Base64 = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
const DigestCheck zeros256{DigestAlgorithm::sha256, std::string(32, '\0')};
const std::string sha256Hex = "a948904f2f0f479b8f8197694b30184b0d2ed1c1cd2a1ec0fb85d299a192a447";

}  // namespace

void PrintTo(const DigestCheck& check, std::ostream* out) {
    *out << (check.algorithm == DigestAlgorithm::sha256 ? "sha-256 " : "sha-512 ");
    for (const char c : check.expected) {
        static const char digits[] = "0123456789abcdef";
        *out << digits[(c >> 4) & 0xF] << digits[c & 0xF];
    }
}

void PrintTo(DigestVerdict verdict, std::ostream* out) {
    *out << (verdict == DigestVerdict::matches   ? "matches"
             : verdict == DigestVerdict::differs ? "differs"
                                                 : "failed");
}

namespace {

struct FieldCase {
    const char* name;
    std::string value;
    std::vector<DigestCheck> checks;
};

TEST(ContentDigest, ReadsDictionaryFields) {
    const std::vector<FieldCase> cases = {
        {"one member", "sha-256=:" + sha256Base64 + ":", {good256}},
        {"sha-512", "sha-512=:" + sha512Base64 + ":", {good512}},
        {"both, in order",
         "sha-512=:" + sha512Base64 + ":, sha-256=:" + sha256Base64 + ":",
         {good512, good256}},
        {"blanks and tabs around commas",
         "  sha-256=:" + sha256Base64 + ":\t,\tsha-512=:" + sha512Base64 + ":  ",
         {good256, good512}},
        {"parameters are ignored", "sha-256=:" + sha256Base64 + ":;a=1;b", {good256}},
        {"padding left out", "sha-256=:" + sha256Base64.substr(0, 43) + ":", {good256}},
        {"unknown algorithms pass by",
         "md5=:XrY7u+Ae7tCTyyK7j1rNww==:, sha=:Kq5sNclPz7QV2+lfQIuc6R7oRu0=:, "
         "sha-256=:" +
             sha256Base64 + ":, unixsum=:AAAA:",
         {good256}},
        {"unknown members of any form pass by",
         "x=\"a, b\", y=(1 2, 3), z=?1, sha-256=:" + sha256Base64 + ":",
         {good256}},
        {"a later member replaces an earlier one",
         "sha-256=:" + zeros256Base64 + ":, sha-256=:" + sha256Base64 + ":",
         {good256}},
        {"a member after a quoted string with an escaped quote",
         "x=\"a\\\", sha-256=:" + zeros256Base64 + ":\", sha-256=:" + sha256Base64 + ":",
         {good256}},
        {"upper-case keys are no dictionary keys", "SHA-256=:" + sha256Base64 + ":", {}},
        {"nothing readable", "!!! not a dictionary", {}},
        {"empty", "", {}},
        // A value of a known key that is not well formed is passed over like an unknown key,
        // and leaves the other members as they are.
        {"invalid base64 character",
         "sha-256=:" + sha256Base64.substr(0, 42) + "!=:, sha-512=:" + sha512Base64 + ":",
         {good512}},
        {"base64url alphabet", "sha-256=:qUiQTy8PR5uPgZdpSzAYSw0u0cHNKh7A-4XSmaGSpEc=:", {}},
        {"hex of the right digest", "sha-256=:" + sha256Hex + ":", {}},
        {"blank inside the bytes", "sha-256=:qUiQTy8PR5uPgZdpSzAYSw0u 0cHNKh7A+4XSmaGSpEc=:", {}},
        {"a sha-512 value under sha-256", "sha-256=:" + sha512Base64 + ":", {}},
        {"one byte short", "sha-256=:" + sha256Base64.substr(0, 40) + ":", {}},
        {"padding in the middle",
         "sha-512=:" + sha512Base64.substr(0, 84) + "==" + sha512Base64.substr(84) + ":",
         {}},
        {"no closing colon", "sha-256=:" + sha256Base64, {}},
        {"a token, not bytes", "sha-256=abc", {}},
        {"a bare key", "sha-256, sha-512=:" + sha512Base64 + ":", {good512}},
        {"blanks around the =", "sha-256 = :" + sha256Base64 + ":", {}},
        {"a quoted string", "sha-256=\"" + sha256Base64 + "\"", {}},
        {"text after the bytes", "sha-256=:" + sha256Base64 + ":junk", {}},
        {"empty bytes", "sha-512=::", {}},
        {"a malformed member does not replace a well-formed one",
         "sha-256=:" + sha256Base64 + ":, sha-256=:" + sha256Hex + ":",
         {good256}},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<DigestCheck> checks;
        ParseDigestDictionary(c.value, checks);
        EXPECT_EQ(checks, c.checks);
    }
}

TEST(ContentDigest, ReadsLegacyDigestFields) {
    const std::vector<FieldCase> cases = {
        {"upper case", "SHA-256=" + sha256Base64, {good256}},
        {"lower case", "sha-512=" + sha512Base64, {good512}},
        {"weak algorithms pass by",
         "MD5=XrY7u+Ae7tCTyyK7j1rNww==, SHA=Kq5sNclPz7QV2+lfQIuc6R7oRu0=, SHA-256=" + sha256Base64,
         {good256}},
        {"blanks around members",
         " SHA-512=" + sha512Base64 + " ,\tSHA-256=" + sha256Base64 + "\t",
         {good512, good256}},
        // Not well formed: passed over, the other members kept.
        {"blanks around the =",
         "SHA-256 = " + sha256Base64 + ", SHA-512=" + sha512Base64,
         {good512}},
        {"blank after the =", "SHA-256= " + sha256Base64, {}},
        {"hex of the right digest", "SHA-256=" + sha256Hex, {}},
        {"base64url alphabet", "SHA-256=qUiQTy8PR5uPgZdpSzAYSw0u0cHNKh7A-4XSmaGSpEc=", {}},
        {"a structured-field value is no legacy value", "SHA-256=:" + sha256Base64 + ":", {}},
        {"a bare name", "SHA-256", {}},
        {"wrong length", "SHA-256=AAAA", {}},
        {"nothing readable", "garbage", {}},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<DigestCheck> checks;
        ParseLegacyDigest(c.value, checks);
        EXPECT_EQ(checks, c.checks);
    }
}

TEST(ContentDigest, DecodesStandardBase64) {
    struct Case {
        const char* text;
        std::optional<std::string> bytes;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"Zg==", "f"},
        {"Zg", "f"},
        {"Zm8=", "fo"},
        {"Zm9v", "foo"},
        {"Zh==", "f"},  // unused bits that are not zero
        {"/+/+", Hex("ffeffe")},
        {"Z", std::nullopt},
        {"Zg=", std::nullopt},
        {"Zg===", std::nullopt},
        {"Zm9v=", std::nullopt},
        {"Zg==Zg==", std::nullopt},
        {"Zm-v", std::nullopt},
        {"Zm9v\n", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DecodeBase64(c.text), c.bytes);
    }
}

HeaderBlock Block(const std::vector<std::string>& lines) {
    HeaderBlock block;
    for (const std::string& line : lines) block.AddLine(line + "\r\n");
    block.AddLine("\r\n");
    return block;
}

TEST(ContentDigest, TakesEveryDigestHeaderOfA200Response) {
    const HeaderBlock all = Block(
        {"HTTP/1.1 200 OK", "Content-Digest: sha-256=:AAAA:", "Digest: SHA-512=" + sha512Base64,
         "repr-digest: sha-512=:" + sha512Base64 + ":",
         "Content-Digest: sha-256=:" + sha256Base64 + ":"});
    // The two Content-Digest lines are one dictionary, whose malformed member is passed over.
    EXPECT_EQ(DigestChecks(all), (std::vector<DigestCheck>{good256, good512, good512}));

    // One algorithm in both dictionary fields: each is a check of its own, and neither replaces
    // the other.
    const HeaderBlock both =
        Block({"HTTP/1.1 200 OK", "Repr-Digest: sha-256=:" + zeros256Base64 + ":",
               "Content-Digest: sha-256=:" + sha256Base64 + ":"});
    EXPECT_EQ(DigestChecks(both), (std::vector<DigestCheck>{good256, zeros256}));

    const HeaderBlock notFound =
        Block({"HTTP/1.1 404 Not Found", "Content-Digest: sha-256=:" + sha256Base64 + ":"});
    EXPECT_TRUE(DigestChecks(notFound).empty());
    EXPECT_TRUE(DigestChecks(Block({"HTTP/1.1 200 OK", "Content-Length: 3"})).empty());
}

TEST(BodyDigest, ComparesTheBodyFedInPieces) {
    const std::string body = "hello world\n";
    struct Case {
        const char* name;
        std::vector<DigestCheck> checks;
        std::string fed;
        DigestVerdict verdict;
    };
    const std::vector<Case> cases = {
        {"no checks", {}, body, DigestVerdict::matches},
        {"sha-256", {good256}, body, DigestVerdict::matches},
        {"both", {good512, good256}, body, DigestVerdict::matches},
        {"one byte changed", {good256}, "hello world!", DigestVerdict::differs},
        {"one byte missing", {good512}, "hello world", DigestVerdict::differs},
        {"one of two differs",
         {good256, DigestCheck{DigestAlgorithm::sha512, sha256Bytes + sha256Bytes}},
         body,
         DigestVerdict::differs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BodyDigest digest(c.checks);
        // Fed in uneven pieces, an empty one among them.
        digest.Update(c.fed.data(), 5);
        digest.Update(c.fed.data() + 5, 0);
        digest.Update(c.fed.data() + 5, c.fed.size() - 5);
        EXPECT_EQ(digest.Finish(), c.verdict);
        EXPECT_EQ(digest.Finish(), c.verdict) << "a second call gives the same verdict";
    }
}

// A body fed through one small buffer that is refilled at once, as the transfer reuses its
// pending buffer, in pieces that do not divide the ring: the worker hashes its own copy, in order
// and across the ring's end, and the caller overtakes it only by as much as the ring holds.
TEST(DigestWorker, HashesACopyBesideTheCaller) {
    std::string body(8 * 1024 * 1024 + 5, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 131 / 7);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(body.data(), body.size(), digest, &length, EVP_sha256(), nullptr);
    const DigestCheck right{DigestAlgorithm::sha256,
                            std::string(reinterpret_cast<const char*>(digest), length)};
    std::string changed = body;
    changed[body.size() - 1] ^= 1;

    for (const std::string* fed : {&body, &changed}) {
        const int threadsBefore = test::ThreadCount();
        DigestWorker worker({right}, 256 * 1024);
        constexpr std::size_t piece = 100 * 1000;
        std::vector<char> buffer(piece);
        for (std::size_t at = 0; at < fed->size(); at += piece) {
            const std::size_t size = std::min(piece, fed->size() - at);
            std::memcpy(buffer.data(), fed->data() + at, size);
            worker.Submit(buffer.data(), size);
            std::memset(buffer.data(), 0, size);
        }
        EXPECT_EQ(test::ThreadCount(), threadsBefore + 1)
            << "the worker hashes on a thread of its own";
        EXPECT_EQ(worker.Finish(), fed == &body ? DigestVerdict::matches : DigestVerdict::differs);
    }
}

// A worker given a piece and dropped without a verdict, as on a failed transfer, leaves no
// thread behind.
TEST(DigestWorker, EndsItsThreadWhenDroppedMidBody) {
    const int threadsBefore = test::ThreadCount();
    const std::string piece(1024 * 1024, 'x');
    {
        DigestWorker worker({good256});
        worker.Submit(piece.data(), piece.size());
        EXPECT_EQ(test::ThreadCount(), threadsBefore + 1);
    }
    EXPECT_EQ(test::ThreadCount(), threadsBefore);
}

}  // namespace
}  // namespace korrin
