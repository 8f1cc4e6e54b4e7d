#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

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

// The older form of a raise, which records the number and the response text first, still gives
// a complete object.
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

// Every number the layer uses has a text of one line, and no two numbers share a text, so a
// report always tells which failure it was.
TEST(LayerMessageTable, EveryNumberHasItsOwnOneLineText) {
    std::set<std::string> seen;
    std::vector<std::uint32_t> codes;
    for (std::uint32_t code = errorInternetFirst + 1; code <= errorAuthenticationFailed; ++code)
        codes.push_back(code);
    codes.insert(codes.end(),
                 {errorHeaderIncomplete, errorCredentialsUnsendable, errorTransferFailed, errorRedirectInvalidUrl,
                  errorTlsCutOff, errorInterrupted, errorDigestMismatch});
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

struct CurlCase {
    const char* name;
    CurlFailureFacts facts;
    std::uint32_t expected;
};

// The facts as the build that the project tests with gives them: OpenSSL is the TLS backend.
CurlFailureFacts Facts(CURLcode code) {
    CurlFailureFacts facts;
    facts.code = code;
    facts.verifyResultIsOpenssl = true;
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
        CurlCase{"UserUrlMalformed", Facts(CURLE_URL_MALFORMAT), errorInvalidUrl},
        CurlCase{"RedirectToAMalformedUrl",
                 Facts(CURLE_URL_MALFORMAT, [](auto& f) { f.responseCode = 302; }),
                 errorRedirectInvalidUrl},
        // With another TLS backend the verification code is not OpenSSL's: 10 is no expiry.
        CurlCase{"OtherBackendVerifyCode",
                 Facts(CURLE_PEER_FAILED_VERIFICATION,
                       [](auto& f) {
                           f.verifyResult = 10;
                           f.verifyResultIsOpenssl = false;
                       }),
                 errorCertificateUntrusted},
        CurlCase{
            "OtherBackendNoVerifyCode",
            Facts(CURLE_PEER_FAILED_VERIFICATION, [](auto& f) { f.verifyResultIsOpenssl = false; }),
            errorCertificateUntrusted},
        CurlCase{"AnythingElse", Facts(CURLE_FAILED_INIT), errorTransferFailed},
        CurlCase{"FileSizeExceeded", Facts(CURLE_FILESIZE_EXCEEDED), errorTransferFailed}),
    [](const testing::TestParamInfo<CurlCase>& info) { return info.param.name; });

#if LIBCURL_VERSION_NUM >= 0x080600
// libcurl 8.6 and later report a header block over their limit with a code of its own.
TEST(CurlErrorMap, TooLargeIsHeadersTooLarge) {
    EXPECT_EQ(InternetErrorFromCurl(Facts(CURLE_TOO_LARGE)), errorHeaderTooLarge);
}
#endif

TEST(CurlWords, ErrorBufferFirstThenTheCodesText) {
    EXPECT_EQ(CurlWords("Port number out of range\n", CURLE_URL_MALFORMAT),
              "Port number out of range");
    EXPECT_EQ(CurlWords("", CURLE_FILESIZE_EXCEEDED), curl_easy_strerror(CURLE_FILESIZE_EXCEEDED));
    EXPECT_EQ(CurlWords(nullptr, CURLE_FAILED_INIT), curl_easy_strerror(CURLE_FAILED_INIT));
}

TEST(TlsBackendIsOpenssl, OnlyWhenOpensslIsTheBackendInUse) {
    EXPECT_TRUE(TlsBackendIsOpenssl("OpenSSL/3.0.11"));
    EXPECT_TRUE(TlsBackendIsOpenssl("(GnuTLS/3.7.9) OpenSSL/3.0.11"));
    EXPECT_FALSE(TlsBackendIsOpenssl("(OpenSSL/3.0.11) GnuTLS/3.7.9"));
    EXPECT_FALSE(TlsBackendIsOpenssl("GnuTLS/3.7.9"));
    EXPECT_FALSE(TlsBackendIsOpenssl("mbedTLS/3.4.0"));
    EXPECT_FALSE(TlsBackendIsOpenssl("LibreSSL/3.8.2"));
    EXPECT_FALSE(TlsBackendIsOpenssl(""));
}

}  // namespace
}  // namespace korrin
