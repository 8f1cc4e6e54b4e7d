#pragma once

#include "webaccess/ChallengeRounds.h"
#include "webaccess/HeaderBlock.h"

namespace korrin {

// What libcurl does after a complete header block that answers the layer's request (an interim
// 1xx block never completes one).
enum class NextStep {
    finalAnswer,      // it hands this block's body over: the block is the final answer
    followRedirect,   // it reads past the body and requests the Location
    answerChallenge,  // it reads past the body and asks again with an answer to the challenge
};

// Decides the next step after block, as libcurl set up by the layer (redirects followed, Basic
// and Digest offered to the server with the credentials, Basic to a proxy) decides it. A 401 or
// 407 is recorded in the side's rounds, with the schemes libcurl reports it can use
// (CURLINFO_HTTPAUTH_AVAIL, CURLINFO_PROXYAUTH_AVAIL). Every other block is the final answer.
NextStep JudgeCompleteBlock(const HeaderBlock& block, ChallengeRounds& serverRounds,
                            unsigned long serverSchemes, ChallengeRounds& proxyRounds,
                            unsigned long proxySchemes);

}  // namespace korrin
