#include "webaccess/ContentDigest.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "webaccess/TrimBlanks.h"

namespace korrin {

namespace {

struct KnownAlgorithm {
    const char* name;
    DigestAlgorithm algorithm;
};

constexpr std::array<KnownAlgorithm, 2> knownAlgorithms = {{
    {"sha-256", DigestAlgorithm::sha256},
    {"sha-512", DigestAlgorithm::sha512},
}};

// The members of a comma-separated field value. Commas inside a quoted string or an inner list
// (in parentheses) belong to their member.
std::vector<std::string_view> SplitMembers(std::string_view value) {
    std::vector<std::string_view> members;
    std::size_t start = 0;
    bool quoted = false;
    int depth = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && depth > 0) {
            --depth;
        } else if (c == ',' && depth == 0) {
            members.push_back(TrimBlanks(value.substr(start, i - start)));
            start = i + 1;
        }
    }
    members.push_back(TrimBlanks(value.substr(start)));
    return members;
}

// The expected bytes for algorithm from base64 text; nothing unless they have its length.
std::optional<std::string> ExpectedDigest(DigestAlgorithm algorithm, std::string_view text) {
    std::optional<std::string> bytes = DecodeBase64(text);
    if (bytes && bytes->size() != DigestLength(algorithm)) bytes.reset();
    return bytes;
}

bool IsKeyCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' ||
           c == '*';
}

// The value of a known dictionary member, after its "=": a byte sequence, then nothing but
// parameters.
std::optional<std::string> DictionaryValue(DigestAlgorithm algorithm, std::string_view rest) {
    if (rest.size() < 2 || rest[0] != ':') return std::nullopt;
    const auto close = rest.find(':', 1);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view parameters = TrimBlanks(rest.substr(close + 1));
    if (!parameters.empty() && parameters.front() != ';') return std::nullopt;
    return ExpectedDigest(algorithm, rest.substr(1, close - 1));
}

// Adds check, replacing one of the same algorithm when replace is set.
void AddCheck(std::vector<DigestCheck>& checks, DigestCheck check, std::size_t firstOfField,
              bool replace) {
    if (replace) {
        const auto same = std::find_if(
            checks.begin() + static_cast<std::ptrdiff_t>(firstOfField), checks.end(),
            [&check](const DigestCheck& earlier) { return earlier.algorithm == check.algorithm; });
        if (same != checks.end()) {
            *same = std::move(check);
            return;
        }
    }
    checks.push_back(std::move(check));
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::size_t DigestLength(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::sha256 ? 32 : 64;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    // Padding makes a whole number of four-character groups; without it, one character alone
    // in the last group encodes no byte.
    if (padding > 0 && text.size() % 4 != 0) return std::nullopt;
    const std::string_view data = text.substr(0, text.size() - padding);
    if (data.size() % 4 == 1) return std::nullopt;
    if (padding > 0 && padding != (4 - data.size() % 4) % 4) return std::nullopt;

    std::string bytes;
    bytes.reserve(data.size() * 3 / 4);
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (const char c : data) {
        const int value = Base64Value(c);
        if (value < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes.push_back(static_cast<char>((bits >> bitCount) & 0xFF));
        }
    }
    return bytes;
}

void ParseDigestDictionary(std::string_view value, std::vector<DigestCheck>& checks) {
    const std::size_t firstOfField = checks.size();
    for (const std::string_view member : SplitMembers(value)) {
        std::size_t keyLength = 0;
        while (keyLength < member.size() && IsKeyCharacter(member[keyLength])) ++keyLength;
        const std::string_view key = member.substr(0, keyLength);
        const auto known = std::find_if(knownAlgorithms.begin(), knownAlgorithms.end(),
                                        [key](const KnownAlgorithm& k) { return key == k.name; });
        if (known == knownAlgorithms.end()) continue;
        const std::string_view rest = member.substr(keyLength);
        if (rest.empty() || rest.front() != '=') continue;
        std::optional<std::string> expected = DictionaryValue(known->algorithm, rest.substr(1));
        if (!expected) continue;
        AddCheck(checks, DigestCheck{known->algorithm, std::move(*expected)}, firstOfField, true);
    }
}

void ParseLegacyDigest(std::string_view value, std::vector<DigestCheck>& checks) {
    for (const std::string_view member : SplitMembers(value)) {
        const auto equals = member.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = member.substr(0, equals);
        const auto known =
            std::find_if(knownAlgorithms.begin(), knownAlgorithms.end(), [name](const auto& k) {
                return name.size() == std::char_traits<char>::length(k.name) &&
                       strncasecmp(name.data(), k.name, name.size()) == 0;
            });
        if (known == knownAlgorithms.end()) continue;
        std::optional<std::string> expected =
            ExpectedDigest(known->algorithm, member.substr(equals + 1));
        if (!expected) continue;
        AddCheck(checks, DigestCheck{known->algorithm, std::move(*expected)}, 0, false);
    }
}

std::vector<DigestCheck> DigestChecks(const HeaderBlock& block) {
    std::vector<DigestCheck> checks;
    if (block.StatusCode() != 200) return checks;
    for (const char* name : {"Content-Digest", "Repr-Digest"}) {
        std::string joined;
        for (std::size_t index = 0;; ++index) {
            const std::optional<std::string> line = block.Value(name, index);
            if (!line) break;
            if (index > 0) joined += ", ";
            joined += *line;
        }
        if (!joined.empty()) ParseDigestDictionary(joined, checks);
    }
    for (std::size_t index = 0;; ++index) {
        const std::optional<std::string> line = block.Value("Digest", index);
        if (!line) break;
        ParseLegacyDigest(*line, checks);
    }
    return checks;
}

}  // namespace korrin
