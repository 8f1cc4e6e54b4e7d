#include "frontend/OptionScan.h"

#include <cstring>

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

namespace {
// Walks arguments 2 onward as the option scan reads them: onValue(folded word, index of its
// value) for "-u", "-p" and "-o" that have a value, onFlag() for "-h".
template <typename OnValue, typename OnFlag>
void WalkOptions(int argumentCount, const char* const* arguments, OnValue onValue, OnFlag onFlag) {
    for (int index = 2; index < argumentCount; ++index) {
        const std::string word = FoldToLower(arguments[index]);
        const bool hasValue = argumentCount >= index + 2;
        if ((word == "-u" || word == "-p" || word == "-o") && hasValue) {
            onValue(word, ++index);
        } else if (word == "-h") {
            onFlag();
        }
    }
}
}  // namespace

Options ScanOptions(int argumentCount, const char* const* arguments) {
    Options options;
    WalkOptions(
        argumentCount, arguments,
        [&](const std::string& word, int value) {
            std::string& field = word == "-u"   ? options.userName
                                 : word == "-p" ? options.password
                                                : options.outputPath;
            field = arguments[value];
        },
        [&] { options.showHeaders = true; });
    return options;
}

void BlankPasswordArguments(int argumentCount, char* const* arguments) {
    WalkOptions(
        argumentCount, arguments,
        [&](const std::string& word, int value) {
            if (word != "-p") return;
            char* text = arguments[value];
            std::memset(text, 0, std::strlen(text));
        },
        [] {});
}

}  // namespace korrin
