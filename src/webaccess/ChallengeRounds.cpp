#include "webaccess/ChallengeRounds.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

#include "webaccess/EqualFolded.h"

namespace korrin {

namespace {

// The longest parameter name and value that libcurl reads of a Digest challenge, each with its
// terminating zero (DIGEST_MAX_VALUE_LENGTH, DIGEST_MAX_CONTENT_LENGTH).
constexpr int maxDigestName = 256;
constexpr int maxDigestValue = 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// Whether the challenge at text begins with the scheme name, followed by what libcurl takes as
// the name's end.
bool StartsWithScheme(std::string_view text, std::string_view scheme, const CurlReading& reading) {
    if (text.size() < scheme.size() || !EqualFolded(text.substr(0, scheme.size()), scheme))
        return false;
    if (text.size() == scheme.size()) return true;
    const char next = text[scheme.size()];
    if (reading.schemeEndsAtNonAlnum) return !IsAlnum(next);
    return next == ',' || std::isspace(static_cast<unsigned char>(next)) != 0;
}

// One "name=value" pair of a Digest challenge, read as libcurl reads it
// (Curl_auth_digest_get_pair): the name is all that comes before the '=', blanks included; a
// quoted value ends at its closing quote (backslash escapes), an unquoted one at a comma; a quote
// inside an unquoted value ends the reading. Nothing when the pair cannot be read; text is left
// behind the pair and its end.
std::optional<std::pair<std::string, std::string>> DigestPair(std::string_view& text) {
    std::string name;
    std::size_t at = 0;
    for (int room = maxDigestName - 1; at < text.size() && text[at] != '=' && room > 0; --room)
        name.push_back(text[at++]);
    if (at >= text.size() || text[at] != '=') return std::nullopt;
    ++at;
    const bool quoted = at < text.size() && text[at] == '"';
    if (quoted) ++at;
    std::string value;
    bool escape = false;
    for (int room = maxDigestValue - 1; at < text.size() && room > 0; --room) {
        const char c = text[at++];
        bool end = false;
        if (!escape) {
            if (c == '\\' && quoted) {
                escape = true;
                continue;
            }
            if (c == ',' && !quoted) {
                end = true;
            } else if (c == '\r' || c == '\n') {
                if (quoted) return std::nullopt;
                end = true;
            } else if (c == '"') {
                if (!quoted) return std::nullopt;
                end = true;
            }
        }
        if (end) break;
        escape = false;
        value.push_back(c);
    }
    if (escape) return std::nullopt;
    text.remove_prefix(at);
    return std::make_pair(std::move(name), std::move(value));
}

// Whether a qop list names auth or auth-int, as libcurl reads the list.
bool QopUsable(std::string_view list, const CurlReading& reading) {
    while (true) {
        while (!list.empty() && IsBlank(list.front())) list.remove_prefix(1);
        const auto comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        if (reading.qopStopsAtEmptyOrLongItem && (item.empty() || item.size() > 32)) return false;
        if (EqualFolded(item, "auth") || EqualFolded(item, "auth-int")) return true;
        if (comma == std::string_view::npos) return false;
        list.remove_prefix(comma + 1);
    }
}

// Reads a Digest challenge, text from its scheme name to the end of the header value, into
// offer.
void ReadDigest(std::string_view text, ChallengeOffer& offer, const CurlReading& reading) {
    // The scheme name must be followed by a blank (Curl_input_digest).
    if (text.size() <= 6 || !IsBlank(text[6])) return;
    text.remove_prefix(6);
    bool algorithmKnown = true;
    bool sessionAlgorithm = false;
    bool qop = false;
    while (true) {
        while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
        const auto pair = DigestPair(text);
        if (!pair) break;
        const auto& [name, value] = *pair;
        if (EqualFolded(name, "nonce")) {
            offer.digestHasNonce = true;
        } else if (EqualFolded(name, "stale")) {
            if (EqualFolded(value, "true")) offer.digestStale = true;
        } else if (EqualFolded(name, "qop")) {
            qop = qop || QopUsable(value, reading);
        } else if (EqualFolded(name, "algorithm")) {
            algorithmKnown = false;
            sessionAlgorithm = false;
            for (const std::string_view known : {"MD5", "SHA-256", "SHA-512-256"}) {
                if (EqualFolded(value, known)) algorithmKnown = true;
                if (EqualFolded(value, std::string(known) + "-sess"))
                    algorithmKnown = sessionAlgorithm = true;
            }
            // libcurl stops at the first algorithm it does not compute.
            if (!algorithmKnown) break;
        }
        while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
        if (!text.empty() && text.front() == ',') text.remove_prefix(1);
    }
    offer.digestReadable = algorithmKnown && offer.digestHasNonce && (qop || !sessionAlgorithm);
}

}  // namespace

ChallengeOffer ReadChallengeOffer(const std::vector<std::string>& values,
                                  unsigned long usableSchemes, const CurlReading& reading) {
    ChallengeOffer offer;
    bool digestRead = false;
    for (const std::string& value : values) {
        std::string_view text = reading.Trim(value);
        while (!text.empty()) {
            if (StartsWithScheme(text, "Digest", reading)) {
                if (!digestRead) {
                    digestRead = true;
                    offer.digest = true;
                    ReadDigest(text, offer, reading);
                }
            } else if (StartsWithScheme(text, "Basic", reading)) {
                offer.basic = true;
            }
            // Several challenges may share one line: the next begins after the next comma.
            const auto comma = text.find(',');
            text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
            while (!text.empty() && reading.IsSpace(text.front())) text.remove_prefix(1);
        }
    }
    if ((usableSchemes & CURLAUTH_BASIC) == 0) offer.basic = false;
    if ((usableSchemes & CURLAUTH_DIGEST) == 0) offer = {.basic = offer.basic};
    return offer;
}

bool ChallengeRounds::Answers(const ChallengeOffer& offer) {
    if (!credentials || givenUp) return false;
    // Reading the challenge: a Basic offered again after a Basic answer refuses the password, and
    // a second Digest challenge that does not call the old nonce stale refuses the answer.
    bool refused = offer.basic && answeredWith == Scheme::basic;
    if (offer.digest) {
        if (!offer.digestReadable || (digestSeen && !offer.digestStale)) refused = true;
        digestSeen = digestSeen || offer.digestHasNonce;
    }
    // Picking a scheme: Digest before Basic.
    Scheme pick = Scheme::none;
    if (offer.digest) {
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
