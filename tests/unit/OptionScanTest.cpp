#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "frontend/OptionScan.h"

namespace korrin {
namespace {

TEST(FoldToLower, FoldsExactlyTheTwentyNineCapitalsOfItsTable) {
    const std::string capitals = "ABCDEFGHIJKLMNOPQRSTUVWXYZ\xC5\xC4\xD6";
    const std::string smalls = "abcdefghijklmnopqrstuvwxyz\xE5\xE4\xF6";
    EXPECT_EQ(FoldToLower(capitals), smalls);
    // Every byte value: the table's capitals fold, every other byte stays as it is.
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const std::size_t at = capitals.find(byte);
        const char expected = at == std::string::npos ? byte : smalls[at];
        EXPECT_EQ(FoldToLower(std::string(1, byte)), std::string(1, expected)) << "byte " << value;
    }
}

TEST(FoldToLower, LeavesOtherBytesAndTheCallersTextAlone) {
    // Small letters, digits, punctuation, other accented capitals (0xC9, 0xDC), the small forms
    // themselves, a NUL and the bytes of a UTF-8 character (0xC3 0x84) stay unchanged.
    const std::string others("az09-_/=\xC9\xDC\xE5\xE4\xF6\0\xC3\x84", 16);
    EXPECT_EQ(FoldToLower(others), others);
    const std::string mixed = "-O\xC5Z";
    EXPECT_EQ(FoldToLower(mixed), "-o\xE5z");
    EXPECT_EQ(mixed, "-O\xC5Z");
    EXPECT_EQ(FoldToLower(""), "");
}

struct ScanCase {
    const char* name;
    std::vector<std::string> arguments;  // after argument 0 (the program) and argument 1 (URL)
    Options expected;
};

void PrintTo(const ScanCase& c, std::ostream* out) { *out << c.name; }

class OptionScanCases : public ::testing::TestWithParam<ScanCase> {};

TEST_P(OptionScanCases, ScansAsExpected) {
    const ScanCase& c = GetParam();
    std::vector<std::string> all{"/usr/bin/korrin", "-u"};  // the URL is never scanned
    all.insert(all.end(), c.arguments.begin(), c.arguments.end());
    std::vector<const char*> argv;
    for (const auto& argument : all) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const std::vector<std::string> before = all;

    const Options options = ScanOptions(static_cast<int>(all.size()), argv.data());
    EXPECT_EQ(options.userName, c.expected.userName);
    EXPECT_EQ(options.password, c.expected.password);
    EXPECT_EQ(options.outputPath, c.expected.outputPath);
    EXPECT_EQ(options.showHeaders, c.expected.showHeaders);
    EXPECT_EQ(all, before) << "the arguments stay as they were";
}

Options Set(std::string userName, std::string password, std::string outputPath, bool showHeaders) {
    return Options{std::move(userName), std::move(password), std::move(outputPath), showHeaders};
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionScanCases,
    ::testing::Values(
        ScanCase{"Nothing", {}, Set("", "", "", false)},
        ScanCase{"AllFour",
                 {"-u", "ann", "-p", "s3cret", "-o", "out.txt", "-h"},
                 Set("ann", "s3cret", "out.txt", true)},
        ScanCase{"CapitalWordsValuesKeepTheirCase",
                 {"-U", "Name", "-P", "PW", "-O", "OUT.TXT", "-H"},
                 Set("Name", "PW", "OUT.TXT", true)},
        ScanCase{"ValueIsTheNextArgumentWhateverItIs", {"-u", "-p", "x"}, Set("-p", "", "", false)},
        ScanCase{"OutputNamedDashH", {"-o", "-h"}, Set("", "", "-h", false)},
        ScanCase{"EmptyValue", {"-o", ""}, Set("", "", "", false)},
        ScanCase{
            "EmptyValueReplacesAnEarlierOne", {"-o", "a.txt", "-o", ""}, Set("", "", "", false)},
        ScanCase{"LastOneWins",
                 {"-o", "a.txt", "-O", "b.txt", "-u", "x", "-u", "y"},
                 Set("y", "", "b.txt", false)},
        ScanCase{"WordWithoutValueLastIsIgnored", {"-u"}, Set("", "", "", false)},
        ScanCase{"WordWithoutValueKeepsTheEarlierValue",
                 {"-o", "a.txt", "-o"},
                 Set("", "", "a.txt", false)},
        ScanCase{"HeadersTakeNoValue", {"-h", "x", "-H"}, Set("", "", "", true)},
        ScanCase{"UnknownWordsAreSkipped",
                 {"-user", "a", "--u", "b", "-u=name", "/u", "", "-", "-x", "-uu", "u"},
                 Set("", "", "", false)},
        ScanCase{"UnknownWordDoesNotConsumeTheNext", {"-x", "-o", "f"}, Set("", "", "f", false)},
        ScanCase{"FoldedOnlyByTheTable", {"-\xD6", "v", "-\xC5", "w"}, Set("", "", "", false)},
        ScanCase{"OneValueLeftForTheLastWord", {"-p", "-o", "f"}, Set("", "-o", "", false)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korrin

namespace korrin {
namespace {

// Every value that the scan takes for -p is zeroed in place, whatever its position and letter
// case; a "-p" that is a value of another option, or the URL, and every other argument stay.
TEST(BlankPasswordArguments, ZeroesEveryPasswordValueAndNothingElse) {
    std::vector<std::string> all{
        "/usr/bin/korrin", "-p", "-p", "first", "-u", "-p", "-o", "-p", "-P", "second", "-p"};
    std::vector<std::string> expected = all;
    expected[3] = std::string(5, '\0');
    expected[9] = std::string(6, '\0');
    std::vector<char*> argv;
    for (auto& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const Options options = ScanOptions(static_cast<int>(all.size()), argv.data());
    BlankPasswordArguments(static_cast<int>(all.size()), argv.data());
    EXPECT_EQ(options.password, "second");
    EXPECT_EQ(all, expected);
}

}  // namespace
}  // namespace korrin
