#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "webaccess/InternetErrors.h"
#include "webaccess/MessageTable.h"

namespace korrin {
namespace {

// Every number the layer uses has a text of one line, and no two numbers share a text, so a
// report always tells which failure it was.
TEST(LayerMessageTable, EveryNumberHasItsOwnOneLineText) {
    std::set<std::string> seen;
    std::vector<std::uint32_t> codes;
    for (std::uint32_t code = errorInternetFirst + 1; code <= errorAuthenticationFailed; ++code)
        codes.push_back(code);
    codes.insert(codes.end(),
                 {errorHeaderIncomplete, errorCredentialsUnsendable, errorTransferFailed,
                  errorRedirectInvalidUrl, errorTlsCutOff, errorInterrupted, errorDigestMismatch,
                  errorTrustedCertificatesUnreadable});
    for (const std::uint32_t code : codes) {
        std::string text;
        ASSERT_TRUE(LookUpLayerMessage(code, text)) << code;
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
        EXPECT_TRUE(seen.insert(text).second) << code << " repeats: " << text;
    }
    // A number in the layer's range that names no failure has no text, and leaves text alone.
    std::string untouched = "kept";
    EXPECT_FALSE(LookUpLayerMessage(12999, untouched));
    EXPECT_EQ(untouched, "kept");
}

struct PrintableCase {
    const char* name;
    std::string raw;
    std::string shown;
};

class PrintableResponse : public testing::TestWithParam<PrintableCase> {};

TEST_P(PrintableResponse, KeepsControlsOffTheConsole) {
    EXPECT_EQ(PrintableResponseText(GetParam().raw), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PrintableResponse,
    testing::Values(
        PrintableCase{"Plain", "HTTP/1.1 407 Proxy says no", "HTTP/1.1 407 Proxy says no"},
        PrintableCase{"C0AndDel",
                      std::string("a\tb\x1b"
                                  "c\x7f"
                                  "d\0e",
                                  9),
                      "a b c d e"},
        PrintableCase{"TrimmedEnds", "\r\n  HTTP/1.1 403 x \r\n", "HTTP/1.1 403 x"},
        PrintableCase{"OnlyControls", "\r\n\x1b", ""},
        PrintableCase{"Utf8Kept",
                      "HTTP/1.1 403 Zugriff verweigert \xc3\xa4 \xe2\x80\x94 \xf0\x9f\x98\x80",
                      "HTTP/1.1 403 Zugriff verweigert \xc3\xa4 \xe2\x80\x94 \xf0\x9f\x98\x80"},
        PrintableCase{"Utf8C1Replaced",
                      "a\xc2\x9b"
                      "31mb\xc2\x85"
                      "c",
                      "a 31mb c"},
        PrintableCase{"LoneC1ByteReplaced",
                      "a\x9b"
                      "31mb",
                      "a 31mb"},
        PrintableCase{"Latin1Kept", "caf\xe9 \xa0ok", "caf\xe9 \xa0ok"},
        PrintableCase{"TruncatedSequence", "x\xe2\x80", "x\xe2"}),
    [](const testing::TestParamInfo<PrintableCase>& info) { return info.param.name; });

// A text the user gave is echoed with its controls blanked as above, and nothing else changed:
// not even blanks at its ends are trimmed.
TEST(PrintableText, BlanksControlsAndKeepsEveryOtherByte) {
    EXPECT_EQ(PrintableText(" http://h/\x1b[2J\r\n\xc2\x9bx y\x7f "), " http://h/ [2J   x y  ");
    EXPECT_EQ(PrintableText("\xc3\xa4\xe9"), "\xc3\xa4\xe9");
}

// For the agent text only C0 controls and DEL are blanked: every other byte, whatever the
// encoding of the program's name, stays.
TEST(BlankControlBytes, BlanksC0AndDelOnly) {
    EXPECT_EQ(BlankControlBytes(std::string("k\r\nX-Injected: 1\0\t\x1b\x7f", 20)),
              "k  X-Injected: 1    ");
    EXPECT_EQ(BlankControlBytes("\x81\x5c\x9b\xc2\x85 ok"), "\x81\x5c\x9b\xc2\x85 ok");
}

}  // namespace
}  // namespace korrin
