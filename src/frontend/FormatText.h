#pragma once

#include <cstdio>
#include <string>

namespace korrin {

// The text that printf would print for format and the arguments, as a string of any length.
template <typename... Arguments>
std::string FormatText(const char* format, Arguments... arguments) {
    const int length = std::snprintf(nullptr, 0, format, arguments...);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, format, arguments...);
    return text;
}

}  // namespace korrin
