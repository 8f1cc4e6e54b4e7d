#pragma once

#include <string>
#include <vector>

#include "webaccess/CurlReading.h"

namespace korrin {

// What one 401 block offers in its WWW-Authenticate headers, as libcurl reads them: the schemes
// it knows among those the layer lets it use, and what libcurl made of the first Digest
// challenge.
struct ChallengeOffer {
    bool basic = false;
    bool digest = false;
    // libcurl could take the Digest challenge (Curl_input_digest): its scheme name is followed by
    // a blank, its parameters read, it names a nonce, an algorithm that libcurl computes, and a
    // qop of auth or auth-int where the algorithm is a -sess one.
    bool digestReadable = false;
    bool digestHasNonce = false;  // the Digest challenge names a nonce
    bool digestStale = false;     // stale=true: the last answer's nonce expired, not its password

    bool operator==(const ChallengeOffer&) const = default;
};

// Reads the challenges of a complete block, given as libcurl stored the values of its
// WWW-Authenticate headers (LatestHeaderValues), as libcurl reads them (Curl_http_input_auth,
// Curl_input_digest, Curl_auth_decode_digest_http_message): each header may hold several
// challenges, the next one beginning after the next comma; a scheme counts where a challenge
// begins with its name; only the first Digest challenge counts. usableSchemes is libcurl's own
// mask of the schemes it read and can use (CURLINFO_HTTPAUTH_AVAIL): a scheme outside it is not
// offered.
ChallengeOffer ReadChallengeOffer(const std::vector<std::string>& values,
                                  unsigned long usableSchemes, const CurlReading& reading);

// The challenge rounds of one transfer with the server, kept as libcurl keeps them, so that the
// layer can tell at the end of a 401 block whether libcurl sends another request with an answer,
// or hands that block over as the final answer (and its body, if any ever comes).
//
// libcurl (Curl_http_input_auth, Curl_http_auth_act; the same in 7.88 and 8.14) answers a
// challenge when credentials are set and it has not given up, with Digest when that is offered,
// else with Basic when that is offered. It gives up for the rest of the transfer when no scheme it
// can use is offered, when Basic is offered again after it answered with Basic (the password was
// refused), and when it cannot take a Digest challenge, or one follows an earlier one without
// saying stale=true. A stale Digest nonce is answered again with the new one.
//
// A proxy needs no rounds: libcurl offers it Basic only, which it sends with the first request
// whenever the proxy setting holds credentials, so it never answers a 407.
class ChallengeRounds {
  public:
    // credentialsSet: libcurl has credentials for the server.
    explicit ChallengeRounds(bool credentialsSet) : credentials(credentialsSet) {}

    // Records one complete 401 block with what it offers; true when libcurl answers it with
    // another request, false when that block is the final answer. After answering
    // maxAnsweredRounds challenges the layer takes the next one as final itself, so that a server
    // that keeps calling every nonce stale cannot keep the download going for ever.
    bool Answers(const ChallengeOffer& offer);

    static constexpr int maxAnsweredRounds = 10;

    // libcurl has dropped the credentials for the rest of the transfer: it does so when a redirect
    // leads to another port or scheme than the last request's (Curl_follow in 7.88,
    // Curl_http_follow in 8.14), and from then on it answers no challenge, even on a later return
    // to the first ones.
    void CredentialsDropped() { credentials = false; }

  private:
    enum class Scheme { none, basic, digest };

    bool credentials;
    bool givenUp = false;  // libcurl's authentication problem: no further answer in this transfer
    bool digestSeen = false;  // a Digest challenge with a nonce has been read
    Scheme answeredWith = Scheme::none;
    int answered = 0;
};

}  // namespace korrin
