#include "transfer/ContentLength.h"

#include <limits>

namespace korrin {

std::int64_t ConvertContentLength(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate towards the sign's side, so that the most negative value is reachable too.
    constexpr std::int64_t maximum = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t minimum = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (negative) {
            if (value < (minimum + digit) / 10) return minimum;
            value = value * 10 - digit;
        } else {
            if (value > (maximum - digit) / 10) return maximum;
            value = value * 10 + digit;
        }
    }
    return value;
}

}  // namespace korrin
