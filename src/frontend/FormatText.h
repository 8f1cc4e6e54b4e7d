#pragma once

#include <string>

namespace korrin {

// The text that printf would print for format and the arguments, as a string of any length. The
// compiler checks the arguments against the format, as it does for printf.
[[gnu::format(printf, 1, 2)]] std::string FormatText(const char* format, ...);

}  // namespace korrin
