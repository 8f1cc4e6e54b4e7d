#include "frontend/ProgramName.h"

#include <cwchar>

namespace korrin {

std::string ProgramNameFromArgument(const char* argument0) {
    if (argument0 == nullptr) return {};
    const std::string text(argument0);
    std::mbstate_t state{};
    std::size_t cut = 0;  // index just past the last separator
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = std::mbrlen(text.data() + i, text.size() - i, &state);
        if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2) ||
            length == 0) {
            // An invalid or cut sequence counts byte by byte.
            state = std::mbstate_t{};
            if (text[i] == '\\' || text[i] == '/') cut = i + 1;
            ++i;
            continue;
        }
        if (length == 1 && (text[i] == '\\' || text[i] == '/')) cut = i + 1;
        i += length;
    }
    return text.substr(cut);
}

std::string BlankNameControls(std::string name) {
    std::string shown;
    shown.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const bool c1 = byte == 0xC2 && i + 1 < name.size() &&
                        static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(name[i + 1]) <= 0x9F;
        if (c1) {
            shown.push_back(' ');
            ++i;
        } else {
            shown.push_back(byte < 0x20 || byte == 0x7F ? ' ' : name[i]);
        }
    }
    return shown;
}

}  // namespace korrin
