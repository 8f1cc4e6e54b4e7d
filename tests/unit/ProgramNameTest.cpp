#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "frontend/ProgramName.h"
#include "support/Process.h"

namespace korrin {
namespace {

TEST(ProgramName, KeepsWhatFollowsTheLastFolderSeparator) {
    struct Case {
        const char* argument0;
        const char* name;
    };
    const Case cases[] = {
        {"korrin", "korrin"},
        {"/usr/local/bin/korrin", "korrin"},
        {"./build/korrin", "korrin"},
        {"C:\\Tools\\fetch.exe", "fetch.exe"},
        {"C:fetch.exe", "C:fetch.exe"},
        {"tools\\sub/fetch", "fetch"},
        {"tools/sub\\fetch", "fetch"},
        {"ends-with-a-backslash\\", ""},
        {"ends-with-a-slash/", ""},
        {"", ""},
        {"/opt/\xC3\xA9t\xC3\xA9/k\xC3\xB6rrin", "k\xC3\xB6rrin"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProgramNameFromArgument(c.argument0), c.name) << c.argument0;
    EXPECT_EQ(ProgramNameFromArgument(nullptr), "");
}

TEST(ProgramName, ControlCharactersBecomeBlanks) {
    struct Case {
        std::string name;
        std::string shown;
    };
    const Case cases[] = {
        {"k\r\nX: 1\x1b[2J\x7f", "k  X: 1 [2J "},
        // C1 controls in UTF-8, the terminal's command introducer among them: one blank each.
        {"k\xC2\x9B"
         "2J",
         "k 2J"},
        {"\xC2\x80\xC2\x9F", "  "},
        // Not C1 controls: the no-break space, a letter, and bytes without their 0xC2 (a
        // double-byte character's second byte, or a lead byte cut off at the end).
        {"k\xC2\xA0\xC3\xA9", "k\xC2\xA0\xC3\xA9"},
        {"\x81\x9B\x9B", "\x81\x9B\x9B"},
        {"k\xC2", "k\xC2"},
        {std::string("a\0b", 3), "a b"},
    };
    for (const Case& c : cases) EXPECT_EQ(BlankNameControls(c.name), c.shown) << c.name;
}

// In a double-byte encoding a 0x5C byte can be the second byte of a character: that byte is no
// backslash, and the name must not be cut there.
TEST(ProgramName, BackslashInsideADoubleByteCharacterIsNoSeparator) {
    test::TempDir locales;
    const test::ProcessResult made = test::RunProcess(
        {"/usr/bin/localedef", "-f", "GBK", "-i", "zh_CN", locales.File("zh_CN.GBK")});
    if (made.exitStatus != 0) GTEST_SKIP() << "no GBK locale could be made: " << made.standardError;
    // The locale and LOCPATH are put back however the test ends.
    struct Restore {
        std::string locale = std::setlocale(LC_CTYPE, nullptr);
        const char* previous = std::getenv("LOCPATH");
        std::string locpath = previous != nullptr ? previous : "";
        bool hadLocpath = previous != nullptr;
        ~Restore() {
            if (hadLocpath) {
                setenv("LOCPATH", locpath.c_str(), 1);
            } else {
                unsetenv("LOCPATH");
            }
            std::setlocale(LC_CTYPE, locale.c_str());
        }
    } restore;
    setenv("LOCPATH", locales.Path().c_str(), 1);
    ASSERT_NE(std::setlocale(LC_CTYPE, "zh_CN.GBK"), nullptr);
    // 0x81 0x5C is one GBK character. The literal is split so that the hex escape ends at 5C.
    const std::string name = ProgramNameFromArgument(
        "C:\\tools\\\x81\x5C"
        "fetch.exe");
    const std::string plain = ProgramNameFromArgument("C:\\tools\\fetch.exe");
    EXPECT_EQ(name,
              "\x81\x5C"
              "fetch.exe");
    EXPECT_EQ(plain, "fetch.exe");
}

}  // namespace
}  // namespace korrin
