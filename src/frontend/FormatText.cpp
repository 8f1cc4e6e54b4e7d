#include "frontend/FormatText.h"

#include <cstdarg>
#include <cstdio>

namespace korrin {

// clang-tidy's va_list check, given several files in one run, can lose track of va_start here
// and report the list as uninitialised; it is started before each use and ended after it.
// NOLINTBEGIN(clang-analyzer-valist.Uninitialized)
std::string FormatText(const char* format, ...) {
    // The arguments are read twice, once for the length and once for the text; no list is open
    // while the text is allocated, which may throw.
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    va_start(arguments, format);
    std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    va_end(arguments);
    return text;
}
// NOLINTEND(clang-analyzer-valist.Uninitialized)

}  // namespace korrin
