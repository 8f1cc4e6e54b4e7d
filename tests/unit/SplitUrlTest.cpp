#include <gtest/gtest.h>

#include "webaccess/SplitUrl.h"

namespace korrin {
namespace {

struct SplitCase {
    const char* url;
    bool splits;
    const char* server;
    const char* object;
    std::uint16_t port;
    std::uint32_t kind;
};

class SplitUrlCases : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitUrlCases, SplitsAsExpected) {
    const SplitCase& c = GetParam();
    std::uint32_t kind = 0;
    std::string server = "untouched", object = "untouched";
    std::uint16_t port = 7;
    ASSERT_EQ(SplitUrl(c.url, kind, server, object, port), c.splits) << c.url;
    EXPECT_EQ(kind, c.kind);
    if (!c.splits) {
        EXPECT_EQ(port, 7) << "port is written only on success";
        return;
    }
    EXPECT_EQ(server, c.server);
    EXPECT_EQ(object, c.object);
    EXPECT_EQ(port, c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitUrlCases,
    ::testing::Values(
        SplitCase{"http://example.com:8080/a/b", true, "example.com", "/a/b", 8080, serviceHttp},
        SplitCase{"http://example.com/", true, "example.com", "/", 80, serviceHttp},
        SplitCase{"http://example.com", true, "example.com", "/", 80, serviceHttp},
        SplitCase{"HTTP://Example.com/x", true, "Example.com", "/x", 80, serviceHttp},
        SplitCase{"http://h/a b", true, "h", "/a%20b", 80, serviceHttp},
        SplitCase{"http://h/%41%2f", true, "h", "/%41%2f", 80, serviceHttp},
        SplitCase{"http://h/p?q=a b&x=%41/../y", true, "h", "/p?q=a%20b&x=%41/../y", 80,
                  serviceHttp},
        SplitCase{"http://h/p?a\x01z", true, "h", "/p?a%01z", 80, serviceHttp},
        SplitCase{"http://h/p\"<>{}|", true, "h", "/p%22%3C%3E%7B%7D%7C", 80, serviceHttp},
        SplitCase{"http://h/q?\"<>", true, "h", "/q?\"<>", 80, serviceHttp},
        SplitCase{"http://h/\xC3\xA9", true, "h", "/%C3%A9", 80, serviceHttp},
        SplitCase{"http://user:secret@h:81/p", true, "h", "/p", 81, serviceHttp},
        SplitCase{"http://h/a/./b/../c", true, "h", "/a/c", 80, serviceHttp},
        SplitCase{"http://h/p#frag ment", true, "h", "/p", 80, serviceHttp},
        SplitCase{"https://h/s", true, "h", "/s", 443, serviceHttps},
        SplitCase{"ftp://h/f", true, "h", "/f", 21, serviceFtp},
        SplitCase{"example.com/no-scheme", false, "", "", 0, serviceOther},
        SplitCase{"", false, "", "", 0, serviceOther},
        SplitCase{"-o", false, "", "", 0, serviceOther},
        SplitCase{"http://", false, "", "", 0, serviceOther},
        SplitCase{"http://h:65535/top", true, "h", "/top", 65535, serviceHttp},
        SplitCase{"http://h:65536/", false, "", "", 0, serviceOther},
        SplitCase{"http://h:99999/", false, "", "", 0, serviceOther},
        SplitCase{"file:///etc/passwd", false, "", "", 0, serviceOther}));

TEST(SplitUrl, NullUrlDoesNotSplit) {
    std::uint32_t kind = 0;
    std::string server, object;
    std::uint16_t port = 0;
    EXPECT_FALSE(SplitUrl(nullptr, kind, server, object, port));
    EXPECT_EQ(kind, serviceOther);
}

TEST(SplitUrl, ComponentsLongerThanTheLimitDoNotSplit) {
    std::uint32_t kind = 0;
    std::string server, object;
    std::uint16_t port = 0;
    const std::string fits = "http://h/" + std::string(maxUrlComponentLength - 1, 'a');
    EXPECT_TRUE(SplitUrl(fits.c_str(), kind, server, object, port));
    const std::string tooLong = fits + "a";
    EXPECT_FALSE(SplitUrl(tooLong.c_str(), kind, server, object, port));
}

}  // namespace
}  // namespace korrin
