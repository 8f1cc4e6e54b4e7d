#include "webaccess/NextStep.h"

namespace korrin {

NextStep JudgeCompleteBlock(const HeaderBlock& block, ChallengeRounds& serverRounds,
                            unsigned long serverSchemes, ChallengeRounds& proxyRounds,
                            unsigned long proxySchemes) {
    if (FollowsRedirect(block)) return NextStep::followRedirect;
    switch (block.StatusCode()) {
        case 401:
            return serverRounds.Answers(
                       ReadChallengeOffer(block, "WWW-Authenticate", serverSchemes))
                       ? NextStep::answerChallenge
                       : NextStep::finalAnswer;
        case 407:
            return proxyRounds.Answers(
                       ReadChallengeOffer(block, "Proxy-Authenticate", proxySchemes))
                       ? NextStep::answerChallenge
                       : NextStep::finalAnswer;
        default:
            return NextStep::finalAnswer;
    }
}

}  // namespace korrin
