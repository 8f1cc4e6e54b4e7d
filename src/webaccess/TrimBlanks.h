#pragma once

#include <string_view>

namespace korrin {

// text without the blanks and tabs at either end: the optional white space that HTTP allows
// around a field value and around the items of a list.
inline std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace korrin
