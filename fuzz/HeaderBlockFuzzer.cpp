// Any byte string as received header lines (split after each LF, as libcurl delivers them):
// HeaderBlock must neither fault nor give answers that break its own promises.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "webaccess/HeaderBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const auto whole = korrin::ParseContentLength(input);
    if (whole && *whole < 0) std::abort();

    korrin::HeaderBlock block;
    std::string_view rest = input;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view line = rest.substr(0, end == std::string_view::npos ? end : end + 1);
        block.AddLine(line);
        // While the block's length counts as valid, every Content-Length of it is a number, the
        // same for all of them, and the block's length.
        if (block.ContentLengthValid()) {
            std::optional<std::int64_t> first;
            for (std::size_t i = 0;; ++i) {
                const auto value = block.Value("content-length", i);
                if (!value) break;
                const auto number = korrin::ParseContentLength(*value);
                if (!number || (first && *first != *number)) std::abort();
                first = number;
            }
            if (first != block.ContentLength()) std::abort();
        }
        rest.remove_prefix(line.size());
    }
    const int status = block.StatusCode();
    if (status < 0 || status > 999) std::abort();
    if (block.RawText().find('\n') != std::string::npos && block.RawText().back() != '\n')
        std::abort();
    return 0;
}
