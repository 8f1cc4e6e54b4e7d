#pragma once

#include <string_view>

#include "webaccess/HeaderBlock.h"

namespace korrin {

// What one 401 (or 407) block offers in its challenge headers, as libcurl reads them: the schemes
// it knows among those the layer lets it use, and the facts of the first Digest challenge that
// decide whether libcurl takes it.
struct ChallengeOffer {
    bool basic = false;
    bool digest = false;
    bool digestHasNonce = false;  // the Digest challenge names a nonce; libcurl needs one
    bool digestStale = false;     // stale=true: the last answer's nonce expired, not its password
    // The Digest challenge names no algorithm, or one that libcurl computes (MD5, SHA-256,
    // SHA-512-256, each also as -sess).
    bool digestAlgorithmKnown = true;

    bool operator==(const ChallengeOffer&) const = default;
};

// Reads the challenges of a complete block's headers named headerName ("WWW-Authenticate" or
// "Proxy-Authenticate") as libcurl 7.88 does (Curl_http_input_auth): each header may hold several
// challenges, and a scheme counts where a challenge begins with its name followed by a blank, a
// comma or the end. Only the first Digest challenge counts, as libcurl ignores the others.
// usableSchemes is libcurl's own mask of the schemes it read and can use (CURLINFO_HTTPAUTH_AVAIL
// or CURLINFO_PROXYAUTH_AVAIL, CURLAUTH_* bits): a scheme outside it is not offered.
ChallengeOffer ReadChallengeOffer(const HeaderBlock& block, std::string_view headerName,
                                  unsigned long usableSchemes);

// The challenge rounds of one transfer on one side (the server, or a proxy), kept as libcurl
// keeps them, so that the layer can tell at the end of a challenge's header block whether libcurl
// sends another request with an answer, or hands that block over as the final answer (and its
// body, if any ever comes).
//
// libcurl 7.88 (Curl_http_input_auth, Curl_input_digest, Curl_http_auth_act) answers a challenge
// when credentials are set and it has not given up, with Digest when that is offered and wanted,
// else with Basic when that is offered. It gives up for the rest of the transfer when no scheme
// it can use is offered, when Basic is offered again after it answered with Basic (the password
// was refused), and when a Digest challenge follows an earlier one without saying stale=true (or
// has no nonce, or names an algorithm it does not know). A stale Digest nonce is answered again
// with the new one.
class ChallengeRounds {
  public:
    // credentialsSet: libcurl has credentials for this side. digestWanted: it may answer with
    // Digest as well as Basic (the server's side); a proxy gets Basic only.
    ChallengeRounds(bool credentialsSet, bool digestWanted);

    // Records one complete challenge block with what it offers; true when libcurl answers it with
    // another request, false when that block is the final answer. After answering
    // maxAnsweredRounds challenges the layer takes the next one as final itself, so that a server
    // that keeps calling every nonce stale cannot keep the download going for ever.
    bool Answers(const ChallengeOffer& offer);

    static constexpr int maxAnsweredRounds = 10;

    // libcurl has dropped the credentials for the rest of the transfer: it does so when a redirect
    // leads to another port or scheme than the last request's (Curl_follow), and from then on it
    // answers no challenge, even on a later return to the first ones.
    void CredentialsDropped() { credentials = false; }

  private:
    enum class Scheme { none, basic, digest };

    bool credentials;
    bool digestAllowed;
    bool givenUp = false;  // libcurl's authentication problem: no further answer in this transfer
    bool digestSeen = false;  // a Digest challenge with a nonce has been read
    Scheme answeredWith = Scheme::none;
    int answered = 0;
};

}  // namespace korrin
