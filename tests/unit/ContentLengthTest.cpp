#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "transfer/ContentLength.h"

namespace korrin {
namespace {

TEST(ContentLength, ConvertsByAtoiRulesInto64Bits) {
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
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
    };
    for (const Case& c : cases) EXPECT_EQ(ConvertContentLength(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace korrin
