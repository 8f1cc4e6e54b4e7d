#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "webaccess/HeaderBlock.h"

namespace korrin {

// The checksums a server may send with a body, read from its Content-Digest and Repr-Digest
// headers (dictionaries of structured fields: "sha-256=:<base64>:") and from the older Digest
// header ("SHA-256=<base64>"). Only SHA-256 and SHA-512 are known: weaker or unknown algorithms
// vouch for nothing and are passed over. So is a known algorithm whose value is not well formed
// (not standard base64 of exactly the algorithm's length: hex, URL-safe base64, no value at all):
// nothing can be compared with it, and a server that writes its checksum in the wrong form must
// not fail a correct download. Pure: no I/O.

enum class DigestAlgorithm { sha256, sha512 };

// What one header member vouches for.
struct DigestCheck {
    DigestAlgorithm algorithm;
    std::string expected;  // the digest's bytes, DigestLength(algorithm) of them

    bool operator==(const DigestCheck&) const = default;
};

// The number of bytes of a digest made with algorithm.
std::size_t DigestLength(DigestAlgorithm algorithm);

// The bytes that text encodes in standard base64 (RFC 4648 alphabet; the "=" padding may be left
// out, and the unused bits of the last character need not be zero). Nothing when text holds any
// other character, padding anywhere but at the end, or a length no encoding has.
std::optional<std::string> DecodeBase64(std::string_view text);

// Adds the checks of one Content-Digest or Repr-Digest field value to checks. Members are
// separated by commas with optional blanks around; keys are compared exactly, so only the lower-
// case "sha-256" and "sha-512" are known. A known key is read only with a byte sequence
// (":<base64>:") of its length, optionally followed by parameters, which are ignored; a later
// such member replaces an earlier one of the same key, as for any dictionary field. Members with
// other keys or other values, and text that is no member at all, are passed over.
void ParseDigestDictionary(std::string_view value, std::vector<DigestCheck>& checks);

// Adds the checks of one Digest field value to checks: comma-separated "<algorithm>=<base64>"
// members whose algorithm names are compared without regard to letter case, with no blank on
// either side of the "=". A member without a value of its algorithm's length is passed over.
void ParseLegacyDigest(std::string_view value, std::vector<DigestCheck>& checks);

// Every check that the response whose header block this is asks for: those of all its
// Content-Digest, Repr-Digest and Digest lines, when its status is 200; none otherwise. Several
// lines of one dictionary field are one dictionary, joined in the order received.
std::vector<DigestCheck> DigestChecks(const HeaderBlock& block);

}  // namespace korrin
