#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "frontend/KeyWait.h"

namespace korrin {
namespace {

struct KeyBytesCase {
    const char* name;
    std::string key;  // every byte the terminal sends for one key
};

void PrintTo(const KeyBytesCase& c, std::ostream* out) { *out << c.name; }

class KeyPressBytes : public ::testing::TestWithParam<KeyBytesCase> {};

// A key's bytes are complete at the last one, and not before: no byte of the key is left behind
// and no byte of the next key is taken.
TEST_P(KeyPressBytes, CompleteExactlyAtTheLastByte) {
    const std::string& key = GetParam().key;
    for (std::size_t n = 1; n < key.size(); ++n) {
        EXPECT_FALSE(KeyPressComplete(key.substr(0, n))) << "after " << n << " bytes";
    }
    EXPECT_TRUE(KeyPressComplete(key));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyPressBytes,
    ::testing::Values(
        KeyBytesCase{"Letter", "q"}, KeyBytesCase{"Enter", "\n"}, KeyBytesCase{"CtrlD", "\x04"},
        KeyBytesCase{"Latin1Copyright", "\xA9"},
        // Bytes that cannot begin UTF-8: a key of their own in a single-byte code page.
        KeyBytesCase{"ByteC0", "\xC0"}, KeyBytesCase{"ByteC1", "\xC1"},
        KeyBytesCase{"Utf8TwoBytes", "\xC3\xA9"}, KeyBytesCase{"Utf8ThreeBytes", "\xE2\x82\xAC"},
        KeyBytesCase{"Utf8FourBytes", "\xF0\x9F\x98\x80"}, KeyBytesCase{"ArrowUp", "\x1b[A"},
        KeyBytesCase{"ArrowUpSs3", "\x1bOA"}, KeyBytesCase{"Home", "\x1b[1~"},
        KeyBytesCase{"F12", "\x1b[24~"}, KeyBytesCase{"CtrlShiftRight", "\x1b[1;6C"},
        KeyBytesCase{"LinuxConsoleF1", "\x1b[[A"}, KeyBytesCase{"AltX", "\x1bx"},
        KeyBytesCase{"AltArrow", "\x1b\x1b[A"}, KeyBytesCase{"AltUtf8", "\x1b\xC3\xA9"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeyPressComplete, LoneEscapeAndEmptyWaitForMore) {
    EXPECT_FALSE(KeyPressComplete(""));
    EXPECT_FALSE(KeyPressComplete("\x1b"));
}

TEST(KeyPressComplete, BrokenSequencesEndAtTheByteThatBreaksThem) {
    EXPECT_TRUE(KeyPressComplete("\xC3x"));       // lead byte without its continuation
    EXPECT_TRUE(KeyPressComplete("\x1b[1\x03"));  // a control byte inside the parameters
    EXPECT_TRUE(KeyPressComplete("\x1b[" + std::string(40, '1')));  // runaway parameters
}

}  // namespace
}  // namespace korrin
