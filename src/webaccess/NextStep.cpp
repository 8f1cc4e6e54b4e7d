#include "webaccess/NextStep.h"

namespace korrin {

bool FollowsRedirect(long status, const std::vector<std::string>& locations,
                     const CurlReading& reading) {
    if (status < 300 || status > 399) return false;
    for (const std::string& location : locations) {
        if (!reading.Trim(location).empty()) return true;
    }
    return false;
}

NextStep JudgeCompleteBlock(const BlockFacts& block, ChallengeRounds& serverRounds,
                            const CurlReading& reading) {
    if (FollowsRedirect(block.status, block.locations, reading)) return NextStep::followRedirect;
    if (block.status == 401 &&
        serverRounds.Answers(ReadChallengeOffer(block.challenges, block.serverSchemes, reading)))
        return NextStep::answerChallenge;
    return NextStep::finalAnswer;
}

}  // namespace korrin
