#include "frontend/OptionScan.h"

namespace korrin {

namespace {
// Paired by position: each byte of the capital table folds to the byte below it.
constexpr char capitalTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ\xC5\xC4\xD6";
constexpr char smallTable[] = "abcdefghijklmnopqrstuvwxyz\xE5\xE4\xF6";
static_assert(sizeof capitalTable == 30 && sizeof smallTable == 30);
}  // namespace

std::string FoldToLower(std::string text) {
    for (char& c : text) {
        for (std::size_t i = 0; i + 1 < sizeof capitalTable; ++i) {
            if (c == capitalTable[i]) {
                c = smallTable[i];
                break;
            }
        }
    }
    return text;
}

Options ScanOptions(int argumentCount, const char* const* arguments) {
    Options options;
    for (int index = 2; index < argumentCount; ++index) {
        const std::string word = FoldToLower(arguments[index]);
        const bool hasValue = argumentCount >= index + 2;
        if (word == "-u" && hasValue) {
            options.userName = arguments[++index];
        } else if (word == "-p" && hasValue) {
            options.password = arguments[++index];
        } else if (word == "-o" && hasValue) {
            options.outputPath = arguments[++index];
        } else if (word == "-h") {
            options.showHeaders = true;
        }
    }
    return options;
}

}  // namespace korrin
