// Any text as a Content-Length value: wherever the header block's strict reading accepts it, the
// transfer's conversion by the rules of atoi gives the same number, for the text as received and
// for the digits that the layer hands out.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "transfer/ContentLength.h"
#include "webaccess/HeaderBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto checked = korrin::ParseContentLength(text);
    if (!checked) return 0;
    if (korrin::ConvertContentLength(text) != *checked) std::abort();
    if (korrin::ConvertContentLength(std::to_string(*checked)) != *checked) std::abort();
    return 0;
}
