#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "webaccess/CurlErrorMap.h"
#include "webaccess/InternetErrors.h"
#include "webaccess/InternetException.h"
#include "webaccess/InternetLastError.h"
#include "webaccess/MessageTable.h"

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

Rendered Render(std::uint32_t errorCode, std::uint32_t capacity) {
    char buffer[2048];
    std::memset(buffer, '#', sizeof buffer);
    std::uint32_t helpTopic = 77;
    const bool found = CInternetException(1, errorCode).MessageText(buffer, capacity, &helpTopic);
    return {found, std::string(buffer), helpTopic,
            buffer[capacity] == '#' && std::strlen(buffer) < capacity};
}

struct MessageTextCase {
    const char* name;
    std::uint32_t errorCode;
    std::uint32_t capacity;
    const char* responseText;  // the server's last response text
    bool found;
    std::string text;
};

class MessageTextTable : public testing::TestWithParam<MessageTextCase> {};

TEST_P(MessageTextTable, RendersTheNumber) {
    const MessageTextCase& c = GetParam();
    SetLastResponseInfo(c.responseText);
    const Rendered r = Render(c.errorCode, c.capacity);
    EXPECT_EQ(r.found, c.found);
    EXPECT_EQ(r.text, c.text);
    EXPECT_EQ(r.helpTopic, 0u);
    EXPECT_TRUE(r.untouchedBeyondCapacity);
    SetLastResponseInfo({});
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
                        "HTTP/1.1 403  ]0;owned  Red [31m"}),
    [](const testing::TestParamInfo<MessageTextCase>& info) { return info.param.name; });

TEST(MessageText, HelpTopicIsOptional) {
    char buffer[128];
    EXPECT_TRUE(CInternetException(1, errorStalled).MessageText(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "The transfer stalled: no data arrived from the server for too long.");
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_FALSE(CInternetException(1, 12999).MessageText(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
}

// Every number the layer uses has a text of one line, and no two numbers share a text, so a
// report always tells which failure it was.
TEST(LayerMessageTable, EveryNumberHasItsOwnOneLineText) {
    std::set<std::string> seen;
    for (std::uint32_t code = errorInternetFirst + 1; code <= errorHeaderIncomplete; ++code) {
        std::string text;
        ASSERT_TRUE(LookUpLayerMessage(code, text)) << code;
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
        EXPECT_TRUE(seen.insert(text).second) << code << " repeats: " << text;
    }
    std::string untouched = "kept";
    EXPECT_FALSE(LookUpLayerMessage(errorHeaderIncomplete + 1, untouched));
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

struct CurlCase {
    const char* name;
    CurlFailureFacts facts;
    std::uint32_t expected;
};

CurlFailureFacts Facts(CURLcode code) {
    CurlFailureFacts facts;
    facts.code = code;
    return facts;
}

template <typename Change>
CurlFailureFacts Facts(CURLcode code, Change change) {
    CurlFailureFacts facts = Facts(code);
    change(facts);
    return facts;
}

class CurlErrorMapTable : public testing::TestWithParam<CurlCase> {};

TEST_P(CurlErrorMapTable, MapsToOneNumber) {
    EXPECT_EQ(InternetErrorFromCurl(GetParam().facts), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CurlErrorMapTable,
    testing::Values(
        CurlCase{"NameNotResolved", Facts(CURLE_COULDNT_RESOLVE_HOST), errorNameNotResolved},
        CurlCase{"ProxyNameNotResolved", Facts(CURLE_COULDNT_RESOLVE_PROXY),
                 errorProxyNameNotResolved},
        CurlCase{"Refused", Facts(CURLE_COULDNT_CONNECT, [](auto& f) { f.osErrno = ECONNREFUSED; }),
                 errorConnectionRefused},
        CurlCase{"NetworkUnreachable",
                 Facts(CURLE_COULDNT_CONNECT, [](auto& f) { f.osErrno = ENETUNREACH; }),
                 errorHostUnreachable},
        CurlCase{"HostUnreachable",
                 Facts(CURLE_COULDNT_CONNECT, [](auto& f) { f.osErrno = EHOSTUNREACH; }),
                 errorHostUnreachable},
        CurlCase{"ConnectTimedOutInKernel",
                 Facts(CURLE_COULDNT_CONNECT, [](auto& f) { f.osErrno = ETIMEDOUT; }),
                 errorConnectTimeout},
        CurlCase{"ConnectOtherwise",
                 Facts(CURLE_COULDNT_CONNECT, [](auto& f) { f.osErrno = EACCES; }),
                 errorCannotConnect},
        CurlCase{"ConnectTimeout", Facts(CURLE_OPERATION_TIMEDOUT), errorConnectTimeout},
        CurlCase{"Stall", Facts(CURLE_OPERATION_TIMEDOUT, [](auto& f) { f.connected = true; }),
                 errorStalled},
        CurlCase{"ResetWhileReceiving",
                 Facts(CURLE_RECV_ERROR, [](auto& f) { f.osErrno = ECONNRESET; }),
                 errorConnectionReset},
        CurlCase{"ResetWhileSending", Facts(CURLE_SEND_ERROR, [](auto& f) { f.osErrno = EPIPE; }),
                 errorConnectionReset},
        CurlCase{"SendFailed", Facts(CURLE_SEND_ERROR), errorSendFailed},
        CurlCase{"ReceiveFailed", Facts(CURLE_RECV_ERROR), errorReceiveFailed},
        CurlCase{"NothingAnswered", Facts(CURLE_GOT_NOTHING), errorNoResponse},
        CurlCase{"BodyShort", Facts(CURLE_PARTIAL_FILE), errorBodyTruncated},
        CurlCase{"HeadersCutAfterAContentLength",
                 Facts(CURLE_PARTIAL_FILE, [](auto& f) { f.connected = f.headerPending = true; }),
                 errorHeaderIncomplete},
        CurlCase{"NoStatusLine", Facts(CURLE_UNSUPPORTED_PROTOCOL), errorInvalidResponse},
        CurlCase{"WeirdReply", Facts(CURLE_WEIRD_SERVER_REPLY), errorInvalidResponse},
        CurlCase{"RedirectToOtherScheme",
                 Facts(CURLE_UNSUPPORTED_PROTOCOL, [](auto& f) { f.responseCode = 302; }),
                 errorSchemeNotAllowed},
        CurlCase{"TooManyRedirects", Facts(CURLE_TOO_MANY_REDIRECTS), errorTooManyRedirects},
        CurlCase{"Handshake", Facts(CURLE_SSL_CONNECT_ERROR), errorTlsHandshake},
        CurlCase{"SelfSigned",
                 Facts(CURLE_PEER_FAILED_VERIFICATION, [](auto& f) { f.verifyResult = 18; }),
                 errorCertificateUntrusted},
        CurlCase{"UnknownIssuer",
                 Facts(CURLE_PEER_FAILED_VERIFICATION, [](auto& f) { f.verifyResult = 20; }),
                 errorCertificateUntrusted},
        CurlCase{"Expired",
                 Facts(CURLE_PEER_FAILED_VERIFICATION, [](auto& f) { f.verifyResult = 10; }),
                 errorCertificateExpired},
        CurlCase{"NotYetValid",
                 Facts(CURLE_PEER_FAILED_VERIFICATION, [](auto& f) { f.verifyResult = 9; }),
                 errorCertificateExpired},
        CurlCase{"NameCheckedByLibcurl",
                 Facts(CURLE_PEER_FAILED_VERIFICATION, [](auto& f) { f.verifyResult = 1; }),
                 errorCertificateWrongName},
        CurlCase{"NameCheckedAfterChain", Facts(CURLE_PEER_FAILED_VERIFICATION),
                 errorCertificateWrongName},
        CurlCase{"NameCheckedByOpenssl",
                 Facts(CURLE_PEER_FAILED_VERIFICATION, [](auto& f) { f.verifyResult = 64; }),
                 errorCertificateWrongName},
        CurlCase{"CaFileUnreadable", Facts(CURLE_SSL_CACERT_BADFILE), errorTlsSetup},
        CurlCase{"ProxyRefusedConnect",
                 Facts(CURLE_RECV_ERROR, [](auto& f) { f.proxyConnectCode = 403; }), errorExtended},
        CurlCase{"ProxyRefusedConnectOlderCode",
                 Facts(CURLE_COULDNT_CONNECT, [](auto& f) { f.proxyConnectCode = 407; }),
                 errorExtended},
        CurlCase{"SocksProxyRefused", Facts(CURLE_PROXY), errorProxyRefused},
        CurlCase{"OutOfMemory", Facts(CURLE_OUT_OF_MEMORY), errorOutOfMemory},
        CurlCase{"OutOfMemoryWithNote",
                 Facts(CURLE_OUT_OF_MEMORY,
                       [](auto& f) {
                           f.connected = f.headerPending = true;
                           f.errorDetail = "failed to allocate";
                       }),
                 errorOutOfMemory},
        CurlCase{"HeaderLineTooLong",
                 Facts(CURLE_OUT_OF_MEMORY, [](auto& f) { f.connected = f.headerPending = true; }),
                 errorHeaderTooLarge},
        CurlCase{"HeaderBlockTooLarge",
                 Facts(CURLE_RECV_ERROR,
                       [](auto& f) {
                           f.connected = f.headerPending = true;
                           f.errorDetail = "Too large response headers: 307957 > 307200";
                       }),
                 errorHeaderTooLarge},
        CurlCase{"AuthenticationUnanswerable", Facts(CURLE_AUTH_ERROR), errorAuthenticationFailed},
        CurlCase{"AnythingElse", Facts(CURLE_FAILED_INIT), errorInternal}),
    [](const testing::TestParamInfo<CurlCase>& info) { return info.param.name; });

}  // namespace
}  // namespace korrin
