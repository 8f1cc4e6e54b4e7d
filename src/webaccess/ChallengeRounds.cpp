#include "webaccess/ChallengeRounds.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

#include "webaccess/TrimBlanks.h"

namespace korrin {

namespace {

// The Digest algorithms that libcurl 7.88 computes.
constexpr std::string_view digestAlgorithms[] = {"MD5",          "MD5-sess",    "SHA-256",
                                                 "SHA-256-sess", "SHA-512-256", "SHA-512-256-sess"};

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Whether a and b are the same text but for the case of ASCII letters.
bool EqualFolded(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&lower](char x, char y) { return lower(x) == lower(y); });
}

// Whether a challenge list at text begins with the scheme name, followed by what libcurl takes
// as the name's end (a blank, a comma or the end of the value).
bool StartsWithScheme(std::string_view text, std::string_view scheme) {
    if (text.size() < scheme.size() || !EqualFolded(text.substr(0, scheme.size()), scheme))
        return false;
    return text.size() == scheme.size() || text[scheme.size()] == ',' ||
           IsSpace(text[scheme.size()]);
}

// The next "name=value" pair of a Digest challenge's parameters, as libcurl reads them: the value
// may be quoted (with backslash escapes); pairs are separated by commas and blanks. Nothing when
// no pair is left.
std::optional<std::pair<std::string, std::string>> NextPair(std::string_view& text) {
    while (!text.empty() && (text.front() == ',' || IsSpace(text.front()))) text.remove_prefix(1);
    const auto equals = text.find('=');
    if (text.empty() || equals == std::string_view::npos) return std::nullopt;
    std::string name(TrimBlanks(text.substr(0, equals)));
    text.remove_prefix(equals + 1);
    std::string value;
    if (!text.empty() && text.front() == '"') {
        text.remove_prefix(1);
        while (!text.empty() && text.front() != '"') {
            if (text.front() == '\\' && text.size() > 1) text.remove_prefix(1);
            value.push_back(text.front());
            text.remove_prefix(1);
        }
        if (!text.empty()) text.remove_prefix(1);
    } else {
        while (!text.empty() && text.front() != ',' && !IsSpace(text.front())) {
            value.push_back(text.front());
            text.remove_prefix(1);
        }
    }
    return std::make_pair(std::move(name), std::move(value));
}

// Reads the parameters of a Digest challenge (all that follows its scheme name on the header
// line, as libcurl hands it over) into offer.
void ReadDigestParameters(std::string_view text, ChallengeOffer& offer) {
    while (const auto pair = NextPair(text)) {
        if (EqualFolded(pair->first, "nonce")) offer.digestHasNonce = true;
        if (EqualFolded(pair->first, "stale") && EqualFolded(pair->second, "true"))
            offer.digestStale = true;
        if (EqualFolded(pair->first, "algorithm")) {
            offer.digestAlgorithmKnown = false;
            for (const std::string_view known : digestAlgorithms) {
                if (EqualFolded(pair->second, known)) offer.digestAlgorithmKnown = true;
            }
        }
    }
}

}  // namespace

ChallengeOffer ReadChallengeOffer(const HeaderBlock& block, std::string_view headerName,
                                  unsigned long usableSchemes) {
    ChallengeOffer offer;
    bool digestRead = false;
    for (std::size_t i = 0;; ++i) {
        const auto value = block.Value(headerName, i);
        if (!value) break;
        std::string_view text = *value;
        while (!text.empty()) {
            if (StartsWithScheme(text, "Digest") && !digestRead) {
                digestRead = true;
                offer.digest = true;
                ReadDigestParameters(text.substr(6), offer);
            } else if (StartsWithScheme(text, "Basic")) {
                offer.basic = true;
            }
            // Several challenges may share one line: the next begins after the next comma.
            const auto comma = text.find(',');
            text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
            while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
        }
    }
    if ((usableSchemes & CURLAUTH_BASIC) == 0) offer.basic = false;
    if ((usableSchemes & CURLAUTH_DIGEST) == 0) offer = {.basic = offer.basic};
    return offer;
}

ChallengeRounds::ChallengeRounds(bool credentialsSet, bool digestWanted)
    : credentials(credentialsSet), digestAllowed(digestWanted) {}

bool ChallengeRounds::Answers(const ChallengeOffer& offer) {
    if (!credentials || givenUp) return false;
    // Reading the challenge: a Basic offered again after a Basic answer refuses the password, and
    // a second Digest challenge that does not call the old nonce stale refuses the answer.
    bool refused = offer.basic && answeredWith == Scheme::basic;
    if (offer.digest) {
        if (!offer.digestHasNonce || !offer.digestAlgorithmKnown ||
            (digestSeen && !offer.digestStale))
            refused = true;
        digestSeen = digestSeen || offer.digestHasNonce;
    }
    // Picking a scheme: Digest before Basic, among those wanted.
    Scheme pick = Scheme::none;
    if (offer.digest && digestAllowed) {
        pick = Scheme::digest;
    } else if (offer.basic) {
        pick = Scheme::basic;
    }
    if (refused || pick == Scheme::none || answered >= maxAnsweredRounds) {
        givenUp = true;
        return false;
    }
    answeredWith = pick;
    ++answered;
    return true;
}

}  // namespace korrin
