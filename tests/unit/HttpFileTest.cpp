#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "support/Loopback.h"
#include "webaccess/HttpConnection.h"
#include "webaccess/HttpFile.h"
#include "webaccess/InternetErrors.h"
#include "webaccess/InternetException.h"
#include "webaccess/InternetFlags.h"
#include "webaccess/InternetSession.h"

namespace korrin {
namespace {

// The request's arguments that name what the program never sends. A request with any of them
// present fails at SubmitRequest with errorInternal, before anything goes on the network; with
// all of them absent it goes out, and here meets a port that refuses it.
struct RequestArguments {
    const char* name;
    std::string verb = "GET";
    const char* referrer = nullptr;
    const char* const* acceptTypes = nullptr;
    const char* version = nullptr;
    const char* headers = nullptr;
    std::uint32_t headersLength = 0;
    const void* body = nullptr;
    std::uint32_t bodyLength = 0;
    std::uint32_t expectedError = errorInternal;
};

const char* const noTypes[] = {nullptr};
const char* const someTypes[] = {"text/html", nullptr};
const char bodyBytes[] = "x=1";

class RequestContract : public testing::TestWithParam<RequestArguments> {};

TEST_P(RequestContract, OnlyAbsentArgumentsReachTheNetwork) {
    const RequestArguments& c = GetParam();
    const test::RefusingPort refusing;
    CInternetSession session("korrin 1.4");
    const auto connection = session.OpenHttpConnection("127.0.0.1", 0, refusing.Port(), "", "");
    const auto request = connection->OpenGetRequest(c.verb, "/file", c.referrer, c.acceptTypes,
                                                    c.version, INTERNET_FLAG_RELOAD);
    try {
        request->SubmitRequest(c.headers, c.headersLength, c.body, c.bodyLength);
        FAIL() << "the request went through";
    } catch (const CInternetException& failure) {
        EXPECT_EQ(failure.errorCode, c.expectedError);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RequestContract,
    testing::Values(RequestArguments{.name = "AllAbsent", .expectedError = errorConnectionRefused},
                    RequestArguments{.name = "EmptyOrHttp11",
                                     .referrer = "",
                                     .acceptTypes = noTypes,
                                     .version = "HTTP/1.1",
                                     .headers = "X-A: 1\r\n",
                                     .body = bodyBytes,
                                     .expectedError = errorConnectionRefused},
                    RequestArguments{.name = "OtherVerb", .verb = "POST"},
                    RequestArguments{.name = "Referrer", .referrer = "http://127.0.0.1/"},
                    RequestArguments{.name = "AcceptTypes", .acceptTypes = someTypes},
                    RequestArguments{.name = "Http10", .version = "HTTP/1.0"},
                    RequestArguments{
                        .name = "HeaderLines", .headers = "X-A: 1\r\n", .headersLength = 8},
                    RequestArguments{.name = "Body", .body = bodyBytes, .bodyLength = 3}),
    [](const testing::TestParamInfo<RequestArguments>& info) { return info.param.name; });

}  // namespace
}  // namespace korrin
