#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "webaccess/InternetErrors.h"
#include "webaccess/InternetException.h"
#include "webaccess/InternetLastError.h"

namespace korrin {
namespace {

// The buffer is filled with a marker first, so that a text that is not terminated, or is written
// past capacity - 1 bytes, shows.
struct Rendered {
    bool found;
    std::string text;
    std::uint32_t helpTopic;
    bool untouchedBeyondCapacity;
};

Rendered Render(const CInternetException& failure, std::uint32_t capacity) {
    char buffer[2048];
    std::memset(buffer, '#', sizeof buffer);
    std::uint32_t helpTopic = 77;
    const bool found = failure.MessageText(buffer, capacity, &helpTopic);
    return {found, std::string(buffer), helpTopic,
            buffer[capacity] == '#' && std::strlen(buffer) < capacity};
}

struct MessageTextCase {
    const char* name;
    std::uint32_t errorCode;
    std::uint32_t capacity;
    const char* responseText;  // the server's text that came with the failure
    bool found;
    std::string text;
    const char* curlWords = "";  // libcurl's own words on the failure
};

class MessageTextTable : public testing::TestWithParam<MessageTextCase> {};

TEST_P(MessageTextTable, RendersTheNumber) {
    const MessageTextCase& c = GetParam();
    const Rendered r =
        Render(CInternetException(1, c.errorCode, c.responseText, c.curlWords), c.capacity);
    EXPECT_EQ(r.found, c.found);
    EXPECT_EQ(r.text, c.text);
    EXPECT_EQ(r.helpTopic, 0u);
    EXPECT_TRUE(r.untouchedBeyondCapacity);
}

const std::string longResponse = "HTTP/1.1 403 " + std::string(2000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Numbers, MessageTextTable,
    testing::Values(
        MessageTextCase{"LayerTable", errorNameNotResolved, 1024, "HTTP/1.1 500 Ignored", true,
                        "No address was found for the server name."},
        MessageTextCase{"SystemTableOnly", ENOENT, 1024, "", true, "No such file or directory"},
        MessageTextCase{"UnknownInLayerRange", 12999, 1024, "", false, ""},
        MessageTextCase{"UnknownInSystemRange", 5000, 1024, "", false, ""},
        MessageTextCase{"Zero", 0, 1024, "", false, ""},
        MessageTextCase{"CapacityOfOne", errorNameNotResolved, 1, "", true, ""},
        MessageTextCase{"CapacityShorterThanText", errorNameNotResolved, 11, "", true,
                        "No address"},
        MessageTextCase{"SystemTextCut", ENOENT, 6, "", true, "No su"},
        MessageTextCase{"ExtendedShowsResponse", errorExtended, 1024,
                        "HTTP/1.1 403 Forbidden by policy", true,
                        "HTTP/1.1 403 Forbidden by policy"},
        MessageTextCase{"ExtendedResponseCut", errorExtended, 1024, longResponse.c_str(), true,
                        longResponse.substr(0, 1023)},
        MessageTextCase{"ExtendedResponseCapacityOfOne", errorExtended, 1, "HTTP/1.1 403 No", true,
                        ""},
        MessageTextCase{"ExtendedWithoutResponse", errorExtended, 1024, "", true, ""},
        MessageTextCase{"ExtendedResponseControlsReplaced", errorExtended, 1024,
                        "HTTP/1.1 403 \x1b]0;owned\x07 Red\x1b[31m\r\n", true,
                        "HTTP/1.1 403  ]0;owned  Red [31m"},
        // A libcurl code without a text of its own: libcurl's words say what happened.
        MessageTextCase{"TransferFailedWithCurlWords", errorTransferFailed, 1024, "", true,
                        "The HTTP client stopped the transfer. libcurl says: Maximum file size "
                        "exceeded",
                        "Maximum file size exceeded"},
        MessageTextCase{"TransferFailedCurlWordsCut", errorTransferFailed, 50, "", true,
                        "The HTTP client stopped the transfer. libcurl say",
                        "Maximum file size exceeded"},
        MessageTextCase{"TransferFailedCurlWordsControlsBlanked", errorTransferFailed, 1024, "",
                        true, "The HTTP client stopped the transfer. libcurl says: bad  [2J header",
                        "bad \x1b[2J header\n"},
        MessageTextCase{"TransferFailedWithoutWords", errorTransferFailed, 1024, "", true,
                        "The HTTP client stopped the transfer."},
        // Only the unmapped code shows libcurl's words: a mapped one keeps its own text.
        MessageTextCase{"MappedCodeKeepsItsText", errorNameNotResolved, 1024, "", true,
                        "No address was found for the server name.",
                        "Could not resolve host: nothing.invalid"},
        MessageTextCase{"RedirectToAnInvalidUrl", errorRedirectInvalidUrl, 1024, "", true,
                        "The server redirected the request to an address that is not a valid URL.",
                        "Port number out of range"}),
    [](const testing::TestParamInfo<MessageTextCase>& info) { return info.param.name; });

// The text is the object's alone: what the layer records after the failure was raised cannot
// change it.
TEST(MessageText, ComesFromTheObjectAloneOnceRaised) {
    std::optional<CInternetException> caught;
    try {
        ThrowInternetFailure(1, errorExtended, "HTTP/1.1 403 Tunnel refused", "words");
    } catch (const CInternetException& failure) {
        caught.emplace(failure);
    }
    ASSERT_TRUE(caught.has_value());
    EXPECT_EQ(caught->errorCode, errorExtended);
    EXPECT_EQ(GetLastInternetError(), errorExtended);
    EXPECT_EQ(GetLastResponseInfo(), "HTTP/1.1 403 Tunnel refused");

    SetLastInternetError(errorStalled);
    SetLastResponseInfo("HTTP/1.1 500 Something later");
    char buffer[128];
    EXPECT_TRUE(caught->MessageText(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "HTTP/1.1 403 Tunnel refused");
    SetLastResponseInfo({});
}

// A raise with the number 0 takes the layer's last error and last response text, recorded before
// it, into the object.
TEST(MessageText, RaiseFromTheLastErrorTakesItsNumberAndText) {
    SetLastResponseInfo("HTTP/1.1 407 Proxy says no");
    SetLastInternetError(errorExtended);
    try {
        ThrowInternetFailure(1);
    } catch (const CInternetException& failure) {
        SetLastResponseInfo({});
        EXPECT_EQ(failure.errorCode, errorExtended);
        EXPECT_EQ(failure.responseText, "HTTP/1.1 407 Proxy says no");
    }
}

TEST(MessageText, HelpTopicIsOptional) {
    char buffer[128];
    EXPECT_TRUE(CInternetException(1, errorStalled).MessageText(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "The transfer stalled: no data arrived from the server for too long.");
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_FALSE(CInternetException(1, 12999).MessageText(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
}

}  // namespace
}  // namespace korrin
