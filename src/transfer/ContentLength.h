#pragma once

#include <cstdint>
#include <string_view>

namespace korrin {

// Converts a Content-Length text by the rules of atoi, into 64 bits: leading white space is
// skipped, one optional '+' or '-' is taken, then decimal digits up to the first non-digit. A text
// without digits gives 0; a value beyond the 64-bit range saturates at its limit.
std::int64_t ConvertContentLength(std::string_view text);

}  // namespace korrin
