#include <curl/curl.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "webaccess/ChallengeRounds.h"
#include "webaccess/NextStep.h"

namespace korrin {

void PrintTo(const ChallengeOffer& offer, std::ostream* out) {
    *out << "{basic " << offer.basic << ", digest " << offer.digest << ", nonce "
         << offer.digestHasNonce << ", stale " << offer.digestStale << ", algorithm known "
         << offer.digestAlgorithmKnown << "}";
}

namespace {

HeaderBlock Block(const std::string& statusLine, std::initializer_list<std::string> headers) {
    HeaderBlock block;
    block.AddLine(statusLine + "\r\n");
    for (const std::string& header : headers) block.AddLine(header + "\r\n");
    block.AddLine("\r\n");
    return block;
}

constexpr unsigned long basicAndDigest = CURLAUTH_BASIC | CURLAUTH_DIGEST;

TEST(ChallengeOffer, ReadAsLibcurlReadsTheChallenges) {
    struct Case {
        std::initializer_list<std::string> headers;
        unsigned long usable;
        ChallengeOffer offer;
    };
    const Case cases[] = {
        {{"WWW-Authenticate: Basic realm=\"r\""}, basicAndDigest, {true, false, false, false}},
        {{"WWW-Authenticate: basic"}, basicAndDigest, {true, false, false, false}},
        {{"WWW-Authenticate: Bearer realm=\"r\""}, basicAndDigest, {}},
        {{"WWW-Authenticate: Basicx realm=\"r\""}, basicAndDigest, {}},
        {{"WWW-Authenticate: Digest realm=\"r\", nonce=\"n\""},
         basicAndDigest,
         {false, true, true, false}},
        {{"WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", stale=TRUE"},
         basicAndDigest,
         {false, true, true, true}},
        {{"WWW-Authenticate: Digest realm=\"r\", stale=\"true\", nonce=n"},
         basicAndDigest,
         {false, true, true, true}},
        {{"WWW-Authenticate: Digest realm=\"r\", stale=false, nonce=n"},
         basicAndDigest,
         {false, true, true, false}},
        // A quoted value may hold what looks like a parameter.
        {{"WWW-Authenticate: Digest realm=\"stale=true\", nonce=n"},
         basicAndDigest,
         {false, true, true, false}},
        {{"WWW-Authenticate: Digest realm=\"r\""}, basicAndDigest, {false, true, false, false}},
        {{"WWW-Authenticate: Digest nonce=n, algorithm=SHA-512-256-sess"},
         basicAndDigest,
         {false, true, true, false, true}},
        {{"WWW-Authenticate: Digest nonce=n, algorithm=\"sha-256\""},
         basicAndDigest,
         {false, true, true, false, true}},
        {{"WWW-Authenticate: Digest nonce=n, algorithm=SHA-1"},
         basicAndDigest,
         {false, true, true, false, false}},
        // Several challenges on one line, or over several lines; only the first Digest counts.
        {{"WWW-Authenticate: Bearer, Basic realm=\"r\""},
         basicAndDigest,
         {true, false, false, false}},
        {{"WWW-Authenticate: Digest nonce=a", "WWW-Authenticate: Digest nonce=b, stale=true",
          "WWW-Authenticate: Basic"},
         basicAndDigest,
         {true, true, true, false}},
        // Only what libcurl reports it can use.
        {{"WWW-Authenticate: Basic", "WWW-Authenticate: Digest nonce=a"},
         CURLAUTH_BASIC,
         {true, false, false, false}},
        {{"Proxy-Authenticate: Basic"}, basicAndDigest, {}},
    };
    for (const Case& c : cases) {
        const HeaderBlock block = Block("HTTP/1.1 401 No", c.headers);
        EXPECT_EQ(ReadChallengeOffer(block, "WWW-Authenticate", c.usable), c.offer)
            << block.RawText();
    }
}

// Whether libcurl answers each challenge of a transfer in turn.
TEST(ChallengeRounds, AnswersWhileLibcurlWould) {
    const ChallengeOffer basic{true, false, false, false};
    const ChallengeOffer digest{false, true, true, false};
    const ChallengeOffer staleDigest{false, true, true, true};
    const ChallengeOffer digestWithoutNonce{false, true, false, false};
    const ChallengeOffer digestUnknownAlgorithm{false, true, true, false, false};
    const ChallengeOffer both{true, true, true, false};
    const ChallengeOffer nothingUsable{};
    struct Case {
        const char* name;
        bool credentials;
        bool digestWanted;
        std::vector<ChallengeOffer> offers;
        std::vector<bool> answered;
    };
    const Case cases[] = {
        {"NoCredentials", false, true, {basic}, {false}},
        {"BasicRefused", true, true, {basic, basic}, {true, false}},
        {"NothingUsable", true, true, {nothingUsable}, {false}},
        {"DigestRefused", true, true, {digest, digest}, {true, false}},
        {"StaleDigest", true, true, {digest, staleDigest, staleDigest}, {true, true, true}},
        {"StaleDigestThenRefused", true, true, {digest, staleDigest, digest}, {true, true, false}},
        {"DigestWithoutNonce", true, true, {digestWithoutNonce}, {false}},
        {"DigestUnknownAlgorithm", true, true, {digestUnknownAlgorithm}, {false}},
        // Digest is taken before Basic, so Basic offered after Digest is a new scheme.
        {"DigestThenBasic", true, true, {both, basic, basic}, {true, true, false}},
        // Once given up, never again.
        {"GivenUpForGood", true, true, {nothingUsable, basic}, {false, false}},
        // A proxy gets Basic only; its Digest challenge is read all the same.
        {"ProxyDigestOnly", true, false, {digest}, {false}},
        {"ProxyBothOffered", true, false, {both, basic}, {true, false}},
    };
    for (const Case& c : cases) {
        ChallengeRounds rounds(c.credentials, c.digestWanted);
        for (std::size_t i = 0; i < c.offers.size(); ++i)
            EXPECT_EQ(rounds.Answers(c.offers[i]), c.answered[i]) << c.name << " round " << i;
    }
}

// A server that calls every nonce stale is answered a bounded number of times.
TEST(ChallengeRounds, StaleNoncesForEverEndAtTheCap) {
    ChallengeRounds rounds(true, true);
    const ChallengeOffer staleDigest{false, true, true, true};
    for (int i = 0; i < ChallengeRounds::maxAnsweredRounds; ++i)
        ASSERT_TRUE(rounds.Answers(staleDigest)) << i;
    EXPECT_FALSE(rounds.Answers(staleDigest));
}

TEST(NextStep, OnlyARedirectOrAnAnsweredChallengeIsFollowedUp) {
    struct Case {
        std::string statusLine;
        std::initializer_list<std::string> headers;
        bool credentials;
        NextStep step;
    };
    const Case cases[] = {
        {"HTTP/1.1 302 Found", {"Location: /next"}, false, NextStep::followRedirect},
        {"HTTP/1.1 302 Found", {"Location:"}, false, NextStep::finalAnswer},
        {"HTTP/1.1 200 OK", {"Location: /next"}, false, NextStep::finalAnswer},
        {"HTTP/1.1 404 Not Found", {"WWW-Authenticate: Basic"}, true, NextStep::finalAnswer},
        {"HTTP/1.1 401 No", {"WWW-Authenticate: Basic"}, true, NextStep::answerChallenge},
        {"HTTP/1.1 401 No", {"WWW-Authenticate: Basic"}, false, NextStep::finalAnswer},
        {"HTTP/1.1 401 No", {"WWW-Authenticate: Bearer"}, true, NextStep::finalAnswer},
        {"HTTP/1.1 401 No", {}, true, NextStep::finalAnswer},
        {"HTTP/1.1 407 Proxy", {"Proxy-Authenticate: Basic"}, false, NextStep::answerChallenge},
        {"HTTP/1.1 407 Proxy",
         {"Proxy-Authenticate: Digest nonce=n"},
         false,
         NextStep::finalAnswer},
        {"HTTP/1.1 407 Proxy", {"WWW-Authenticate: Basic"}, false, NextStep::finalAnswer},
    };
    for (const Case& c : cases) {
        ChallengeRounds server(c.credentials, true);
        ChallengeRounds proxy(true, false);
        const HeaderBlock block = Block(c.statusLine, c.headers);
        EXPECT_EQ(JudgeCompleteBlock(block, server, basicAndDigest, proxy, basicAndDigest), c.step)
            << block.RawText();
    }
}

}  // namespace
}  // namespace korrin
