// Any text as a Content-Length: ConvertContentLength must agree with the C library's strtoll,
// whose rules (white space, one sign, digits, saturation at the limits) it follows.

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "transfer/ContentLength.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::int64_t converted = korrin::ConvertContentLength(text);
    // strtoll stops at the first NUL, as the conversion stops at any byte that is no digit.
    const long long expected = std::strtoll(text.c_str(), nullptr, 10);
    if (converted != expected) std::abort();
    return 0;
}
