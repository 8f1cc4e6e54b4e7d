#include <gtest/gtest.h>

#include <limits>

#include "webaccess/HeaderBlock.h"

namespace korrin {
namespace {

// Feeds lines; a null line stands for a new request going out.
void Feed(HeaderBlock& block, std::initializer_list<const char*> lines) {
    for (const char* line : lines) {
        if (line == nullptr) {
            block.ExpectNewBlock();
        } else {
            block.AddLine(line);
        }
    }
}

TEST(HeaderBlock, KeepsTheFinalResponsesBlockWithCrLfLineEnds) {
    HeaderBlock block;
    Feed(block, {"HTTP/1.1 301 Moved\r\n", "Location: /x\r\n", "\r\n", nullptr,
                 "HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 200 OK\n", "Content-Length: 5\n",
                 "X-A:  one \r\n", "\r\n"});
    EXPECT_EQ(block.StatusCode(), 200);
    EXPECT_TRUE(block.Complete());
    EXPECT_EQ(block.RawText(), "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-A:  one \r\n\r\n");
    EXPECT_EQ(block.Value("content-length"), "5");
    EXPECT_EQ(block.Value("X-A"), "one");
    EXPECT_EQ(block.Value("Location"), std::nullopt);
}

// A status line is only the first line of a block: inside a block it is a header line, and
// after a block's end (trailers) it is nothing, until a new request goes out.
TEST(HeaderBlock, StatusLineOnlyWhereABlockStarts) {
    HeaderBlock block;
    Feed(block, {"HTTP/1.1 404 Not Found\r\n", "HTTP/1.1 200 OK: x\r\n", "Content-Length: 3\r\n"});
    EXPECT_TRUE(block.Open());
    block.AddLine("Content-Length: 4\r\n");
    EXPECT_FALSE(block.ContentLengthValid());

    HeaderBlock trailers;
    Feed(trailers, {"HTTP/1.1 200 OK\r\n", "Transfer-Encoding: chunked\r\n", "\r\n",
                    "HTTP/1.1 404 Not Found: x\r\n", "Content-Length: nonsense\r\n", "\r\n"});
    EXPECT_EQ(trailers.StatusCode(), 200);
    EXPECT_TRUE(trailers.ContentLengthValid());
    EXPECT_EQ(trailers.RawText(), "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");

    Feed(trailers, {nullptr, "HTTP/1.1 204 No Content\r\n"});
    EXPECT_EQ(trailers.StatusCode(), 204);
    EXPECT_TRUE(trailers.Open());
    EXPECT_FALSE(trailers.Complete());
}

TEST(HeaderBlock, StatusCodeReadAsLibcurlReadsIt) {
    struct Case {
        const char* line;
        int code;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK", 200}, {"HTTP/1.0  200 OK", 200}, {"HTTP/1.0 \t404 Gone", 404},
        {"HTTP/1.1 200", 200},    {"HTTP/1.1 200OK", 200},   {"HTTP/1.1 2000 OK", 0},
        {"HTTP/1.1 099 Low", 0},  {"HTTP/1.1 20 OK", 0},     {"HTTP/1.1 +200 OK", 0},
        {"HTTP 200 OK", 0},       {"XHTTP/1.1 200 OK", 0},   {"HTTP/1.1", 0},
    };
    for (const Case& c : cases) {
        HeaderBlock block;
        block.AddLine(c.line);
        EXPECT_EQ(block.StatusCode(), c.code) << c.line;
    }
}

// The name is all that comes before the colon, as libcurl takes it.
TEST(HeaderBlock, NoBlankBetweenANameAndItsColon) {
    HeaderBlock block;
    Feed(block, {"HTTP/1.1 200 OK\r\n", "Content-Length : 3\r\n", " Content-Length: 4\r\n"});
    EXPECT_EQ(block.Value("Content-Length"), std::nullopt);
    EXPECT_EQ(block.Value("Content-Length "), "3");
}

// A Content-Length that cannot be read, or that contradicts an earlier one, leaves the block's
// length unknown without refusing the block; a new block starts with a clean slate.
TEST(HeaderBlock, ContentLengthsThatDisagreeLeaveTheLengthUnknown) {
    HeaderBlock block;
    Feed(block, {"HTTP/1.1 200 OK\r\n", "Content-Length: 7\r\n", "Content-Length: 7\r\n"});
    EXPECT_EQ(block.ContentLength(), 7);
    EXPECT_TRUE(block.ContentLengthValid());
    Feed(block, {"content-length: 8\r\n"});
    EXPECT_EQ(block.ContentLength(), std::nullopt);
    EXPECT_FALSE(block.ContentLengthValid());

    Feed(block, {"\r\n", nullptr, "HTTP/1.1 404 Not Found\r\n", "Content-Length: x\r\n", "\r\n",
                 nullptr, "HTTP/1.1 200 OK\r\n", "Content-Length: 2\r\n", "\r\n"});
    EXPECT_EQ(block.ContentLength(), 2);
    EXPECT_TRUE(block.ContentLengthValid());
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
        {"+1", 1},
        {" +7, 7", 7},
        {"+", std::nullopt},
        {"++1", std::nullopt},
        {"+-1", std::nullopt},
        {"+ 1", std::nullopt},
        {"abc", std::nullopt},
        {"12abc", std::nullopt},
        {"", std::nullopt},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"9223372036854775808", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseContentLength(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace korrin
