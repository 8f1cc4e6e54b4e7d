// Any byte string as the value of a Content-Digest, Repr-Digest or Digest header, and as base64:
// the parsers must neither fault nor hand on an expected digest of the wrong length (a value of
// the wrong length is passed over).

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "webaccess/ContentDigest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // Whatever decodes is three bytes for every four characters, less what the padding leaves out.
    if (const auto bytes = korrin::DecodeBase64(input)) {
        std::size_t characters = input.size();
        while (characters > 0 && input[characters - 1] == '=') --characters;
        if (bytes->size() != characters * 6 / 8) std::abort();
    }

    std::vector<korrin::DigestCheck> checks;
    korrin::ParseDigestDictionary(input, checks);
    korrin::ParseLegacyDigest(input, checks);
    for (const korrin::DigestCheck& check : checks) {
        if (check.expected.size() != korrin::DigestLength(check.algorithm)) std::abort();
    }
    return 0;
}
