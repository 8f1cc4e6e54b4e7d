#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "webaccess/ChallengeRounds.h"
#include "webaccess/CurlReading.h"
#include "webaccess/NextStep.h"

namespace korrin {

void PrintTo(const ChallengeOffer& offer, std::ostream* out) {
    *out << "{basic " << offer.basic << ", digest " << offer.digest << ", readable "
         << offer.digestReadable << ", nonce " << offer.digestHasNonce << ", stale "
         << offer.digestStale << "}";
}

namespace {

constexpr unsigned long basicAndDigest = CURLAUTH_BASIC | CURLAUTH_DIGEST;
const CurlReading libcurl788 = CurlReading::OfVersion(0x075801);
const CurlReading libcurl814 = CurlReading::OfVersion(0x080e01);

const ChallengeOffer basic{.basic = true};
const ChallengeOffer digest{.digest = true, .digestReadable = true, .digestHasNonce = true};
const ChallengeOffer staleDigest{
    .digest = true, .digestReadable = true, .digestHasNonce = true, .digestStale = true};
const ChallengeOffer unreadableDigest{.digest = true, .digestHasNonce = true};
const ChallengeOffer digestWithoutNonce{.digest = true};

// The challenges of a 401 as libcurl's header store gives their values, read as each libcurl
// version reads them.
TEST(ChallengeOffer, ReadAsLibcurlReadsTheChallenges) {
    struct Case {
        std::vector<std::string> values;
        ChallengeOffer on788;
        ChallengeOffer on814;
        unsigned long usable = basicAndDigest;
    };
    const Case cases[] = {
        {{"Basic realm=\"r\""}, basic, basic},
        {{"basic"}, basic, basic},
        {{"Bearer realm=\"r\""}, {}, {}},
        {{"Basicx realm=\"r\""}, {}, {}},
        // Where a scheme's name ends: at a blank, comma or the end; from 8.13 at anything that
        // is no letter or digit.
        {{"Basic;realm=r"}, {}, basic},
        {{"Digest realm=\"r\", nonce=\"n\""}, digest, digest},
        {{"Digest realm=\"r\", nonce=\"n\", stale=TRUE"}, staleDigest, staleDigest},
        {{"Digest realm=\"r\", stale=\"true\", nonce=n"}, staleDigest, staleDigest},
        {{"Digest realm=\"r\", stale=false, nonce=n"}, digest, digest},
        // A quoted value may hold what looks like a parameter.
        {{"Digest realm=\"stale=true\", nonce=n"}, digest, digest},
        {{"Digest realm=\"r\""}, digestWithoutNonce, digestWithoutNonce},
        // The scheme name must be followed by a blank for libcurl to take the challenge.
        {{"Digest,nonce=n"}, digestWithoutNonce, digestWithoutNonce},
        {{"Digest nonce=n, algorithm=SHA-512-256-sess, qop=auth"}, digest, digest},
        {{"Digest nonce=n, algorithm=\"sha-256\""}, digest, digest},
        {{"Digest nonce=n, algorithm=SHA-1"}, unreadableDigest, unreadableDigest},
        // A -sess algorithm needs a qop of auth or auth-int.
        {{"Digest realm=\"r\", nonce=\"n1\", algorithm=MD5-sess"},
         unreadableDigest,
         unreadableDigest},
        {{"Digest nonce=n1, algorithm=MD5-sess, qop=\"auth-int\""}, digest, digest},
        {{"Digest nonce=n1, algorithm=MD5-sess, qop=\"token\""},
         unreadableDigest,
         unreadableDigest},
        // An empty qop item: skipped before 8.13, the end of the list from 8.13.
        {{"Digest nonce=n1, algorithm=MD5-sess, qop=\",auth\""}, digest, unreadableDigest},
        // A parameter's name is all that comes before its '=', a blank included.
        {{"Digest realm=\"r\", nonce =\"n1\""}, digestWithoutNonce, digestWithoutNonce},
        // An unquoted value runs to the next comma, blanks and all: this algorithm is part of
        // the nonce.
        {{"Digest realm=r, nonce=n1 algorithm=FOO"}, digest, digest},
        // A quote inside an unquoted value ends the reading of the parameters.
        {{"Digest realm=r\"x\", nonce=n1"}, digestWithoutNonce, digestWithoutNonce},
        // Several challenges on one line, or over several lines; only the first Digest counts.
        {{"Bearer, Basic realm=\"r\""}, basic, basic},
        {{"Digest nonce=a", "Digest nonce=b, stale=true", "Basic"},
         {.basic = true, .digest = true, .digestReadable = true, .digestHasNonce = true},
         {.basic = true, .digest = true, .digestReadable = true, .digestHasNonce = true}},
        // Between challenges: any white space before 8.13, blanks and tabs only from 8.13.
        {{"Bearer,\vBasic"}, basic, {}},
        // Only what libcurl reports it can use.
        {{"Basic", "Digest nonce=a"}, basic, basic, CURLAUTH_BASIC},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadChallengeOffer(c.values, c.usable, libcurl788), c.on788)
            << "7.88: " << c.values.front();
        EXPECT_EQ(ReadChallengeOffer(c.values, c.usable, libcurl814), c.on814)
            << "8.14: " << c.values.front();
    }
}

// Whether libcurl answers each challenge of a transfer in turn.
TEST(ChallengeRounds, AnswersWhileLibcurlWould) {
    const ChallengeOffer both{
        .basic = true, .digest = true, .digestReadable = true, .digestHasNonce = true};
    const ChallengeOffer nothingUsable{};
    struct Case {
        const char* name;
        bool credentials;
        std::vector<ChallengeOffer> offers;
        std::vector<bool> answered;
    };
    const Case cases[] = {
        {"NoCredentials", false, {basic}, {false}},
        {"BasicRefused", true, {basic, basic}, {true, false}},
        {"NothingUsable", true, {nothingUsable}, {false}},
        {"DigestRefused", true, {digest, digest}, {true, false}},
        {"StaleDigest", true, {digest, staleDigest, staleDigest}, {true, true, true}},
        {"StaleDigestThenRefused", true, {digest, staleDigest, digest}, {true, true, false}},
        {"DigestWithoutNonce", true, {digestWithoutNonce}, {false}},
        {"UnreadableDigest", true, {unreadableDigest}, {false}},
        // Digest is taken before Basic, so Basic offered after Digest is a new scheme.
        {"DigestThenBasic", true, {both, basic, basic}, {true, true, false}},
        // Once given up, never again.
        {"GivenUpForGood", true, {nothingUsable, basic}, {false, false}},
    };
    for (const Case& c : cases) {
        ChallengeRounds rounds(c.credentials);
        for (std::size_t i = 0; i < c.offers.size(); ++i)
            EXPECT_EQ(rounds.Answers(c.offers[i]), c.answered[i]) << c.name << " round " << i;
    }
}

// A server that calls every nonce stale is answered a bounded number of times.
TEST(ChallengeRounds, StaleNoncesForEverEndAtTheCap) {
    ChallengeRounds rounds(true);
    for (int i = 0; i < ChallengeRounds::maxAnsweredRounds; ++i)
        ASSERT_TRUE(rounds.Answers(staleDigest)) << i;
    EXPECT_FALSE(rounds.Answers(staleDigest));
}

// libcurl follows the first Location of a 3xx that is not empty as it trims it.
TEST(NextStep, RedirectFollowedOnlyWhereLibcurlFollowsIt) {
    struct Case {
        long status;
        std::vector<std::string> locations;
        bool on788;
        bool on814;
    };
    const Case cases[] = {
        {302, {"/next"}, true, true},
        {301, {"", "/b"}, true, true},
        {304, {"/b"}, true, true},
        {302, {""}, false, false},
        {302, {}, false, false},
        {200, {"/next"}, false, false},
        {401, {"/next"}, false, false},
        // White space alone: empty before 8.13; from 8.13 a vertical tab is a value.
        {302, {"\v"}, false, true},
        {302, {"\f \v"}, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FollowsRedirect(c.status, c.locations, libcurl788), c.on788) << c.status;
        EXPECT_EQ(FollowsRedirect(c.status, c.locations, libcurl814), c.on814) << c.status;
    }
}

TEST(NextStep, OnlyARedirectOrAnAnsweredChallengeIsFollowedUp) {
    struct Case {
        BlockFacts block;
        bool credentials;
        NextStep step;
    };
    const Case cases[] = {
        {{302, {"/next"}, {}, 0}, false, NextStep::followRedirect},
        {{200, {"/next"}, {}, 0}, false, NextStep::finalAnswer},
        {{404, {}, {"Basic"}, CURLAUTH_BASIC}, true, NextStep::finalAnswer},
        {{401, {}, {"Basic"}, CURLAUTH_BASIC}, true, NextStep::answerChallenge},
        {{401, {}, {"Basic"}, CURLAUTH_BASIC}, false, NextStep::finalAnswer},
        {{401, {}, {"Bearer"}, CURLAUTH_BEARER}, true, NextStep::finalAnswer},
        {{401, {}, {}, 0}, true, NextStep::finalAnswer},
        {{401, {}, {"Digest realm=r, nonce=n1 algorithm=FOO"}, CURLAUTH_DIGEST},
         true,
         NextStep::answerChallenge},
        // A proxy's refusal is never answered: libcurl sends its Basic with the first request,
        // or has none to send.
        {{407, {}, {}, 0}, true, NextStep::finalAnswer},
    };
    for (const Case& c : cases) {
        ChallengeRounds server(c.credentials);
        EXPECT_EQ(JudgeCompleteBlock(c.block, server, libcurl788), c.step) << c.block.status;
    }
}

// The chunked coding is named on any Transfer-Encoding line, among other codings.
TEST(CurlReading, ChunkedCodingNamedAnywhere) {
    struct Case {
        std::vector<std::string> values;
        bool chunked;
    };
    const Case cases[] = {
        {{"chunked"}, true},         {{"identity", "chunked"}, true},
        {{"gzip", "Chunked"}, true}, {{"gzip, chunked"}, true},
        {{" , chunked ,"}, true},    {{"chunkedx"}, false},
        {{"identity"}, false},       {{}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NamesChunkedCoding(c.values), c.chunked) << c.values.size();
}

}  // namespace
}  // namespace korrin
