// Any argument list (the input split at NUL bytes): ScanOptions must neither fault nor read past
// the list, and FoldToLower must keep the length and be idempotent.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "frontend/OptionScan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = {"korrin"};
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    words.push_back(word);

    std::vector<const char*> arguments;
    for (const std::string& w : words) arguments.push_back(w.c_str());
    arguments.push_back(nullptr);
    const korrin::Options options =
        korrin::ScanOptions(static_cast<int>(words.size()), arguments.data());
    (void)options;

    for (const std::string& w : words) {
        const std::string folded = korrin::FoldToLower(w);
        if (folded.size() != w.size() || korrin::FoldToLower(folded) != folded) std::abort();
    }
    return 0;
}
