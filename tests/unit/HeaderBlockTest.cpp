#include "webaccess/HeaderBlock.h"

#include <gtest/gtest.h>

#include <limits>

#include "transfer/ContentLength.h"

namespace korrin {
namespace {

TEST(HeaderBlock, KeepsTheFinalResponsesBlockWithCrLfLineEnds) {
    HeaderBlock block;
    for (const char* line : {"HTTP/1.1 301 Moved\r\n", "Location: /x\r\n", "\r\n",
                             "HTTP/1.1 200 OK\n", "Content-Length: 5\n", "X-A:  one \r\n", "\r\n"}) {
        ASSERT_TRUE(block.AddLine(line)) << line;
    }
    EXPECT_EQ(block.StatusCode(), 200);
    EXPECT_EQ(block.RawText(), "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-A:  one \r\n\r\n");
    EXPECT_EQ(block.Value("content-length"), "5");
    EXPECT_EQ(block.Value("X-A"), "one");
    EXPECT_EQ(block.Value("Location"), std::nullopt);
}

TEST(HeaderBlock, ContentLengthsThatDisagreeMakeTheResponseInvalid) {
    HeaderBlock same;
    EXPECT_TRUE(same.AddLine("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(same.AddLine("Content-Length: 7\r\n"));
    EXPECT_TRUE(same.AddLine("Content-Length: 7\r\n"));

    HeaderBlock differ;
    EXPECT_TRUE(differ.AddLine("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(differ.AddLine("Content-Length: 7\r\n"));
    EXPECT_FALSE(differ.AddLine("content-length: 8\r\n"));
}

TEST(HeaderBlock, StrictContentLengthValues) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {" 42 ", 42},
        {"7, 7", 7},
        {"7, 8", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {"abc", std::nullopt},
        {"12abc", std::nullopt},
        {"", std::nullopt},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"9223372036854775808", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseContentLength(c.text), c.value) << c.text;
}

TEST(ContentLength, ConvertsByAtoiRulesInto64BitsAndSaturates) {
    struct Case {
        const char* text;
        std::int64_t value;
    };
    const Case cases[] = {
        {"123", 123},
        {" 123abc", 123},
        {"\t+7", 7},
        {"-5", -5},
        {"letters", 0},
        {"", 0},
        {"- 5", 0},
        {"5000000000", 5000000000LL},
        {"99999999999999999999", std::numeric_limits<std::int64_t>::max()},
        {"-99999999999999999999", std::numeric_limits<std::int64_t>::min()},
    };
    for (const Case& c : cases) EXPECT_EQ(ConvertContentLength(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace korrin
