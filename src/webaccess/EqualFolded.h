#pragma once

#include <algorithm>
#include <string_view>

namespace korrin {

// Whether a and b are the same text but for the case of ASCII letters: header names, schemes,
// codings and challenge parameters are tokens, and the locale has no say in them.
inline bool EqualFolded(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&lower](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace korrin
