#pragma once

#include <string>
#include <vector>

#include "webaccess/ChallengeRounds.h"
#include "webaccess/CurlReading.h"

namespace korrin {

// What libcurl does after a complete header block that answers the layer's request (an interim
// 1xx block never completes one).
enum class NextStep {
    finalAnswer,      // it hands this block's body over: the block is the final answer
    followRedirect,   // it reads past the body and requests the Location
    answerChallenge,  // it reads past the body and asks again with an answer to the challenge
};

// What libcurl has read of a complete block when its empty line is handed over.
struct BlockFacts {
    long status = 0;                      // CURLINFO_RESPONSE_CODE
    std::vector<std::string> locations;   // the Location values libcurl stored
    std::vector<std::string> challenges;  // the WWW-Authenticate values libcurl stored
    unsigned long serverSchemes = 0;      // CURLINFO_HTTPAUTH_AVAIL
};

// Whether libcurl, which the layer sets up to follow redirects, follows a block with this status
// and these Location values with a request to another address: a 3xx answer whose first Location
// that is not empty, as libcurl trims it, names one (304 too).
bool FollowsRedirect(long status, const std::vector<std::string>& locations,
                     const CurlReading& reading);

// Decides the next step after a block, as libcurl set up by the layer (redirects followed, Basic
// and Digest offered to the server with the credentials, Basic to a proxy) decides it. A 401 is
// recorded in the server's rounds. A 407 is always the final answer (see ChallengeRounds), and so
// is every other block.
NextStep JudgeCompleteBlock(const BlockFacts& block, ChallengeRounds& serverRounds,
                            const CurlReading& reading);

}  // namespace korrin
