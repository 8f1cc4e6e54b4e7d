#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

#include "webaccess/CurlErrorMap.h"
#include "webaccess/InternetErrors.h"

namespace korrin {
namespace {

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

// Connected, with the complete head of an answer with status code on hand.
auto Answered(long code) {
    return [code](CurlFailureFacts& facts) {
        facts.connected = facts.headComplete = true;
        facts.responseCode = code;
    };
}

// A TLS connection whose TCP connection ended without close_notify, as libcurl 8 reports it,
// after the complete head of an answer with status code; framed says whether the connection's
// end is the body's end.
auto TlsEnd(long code, bool framed) {
    return [code, framed](CurlFailureFacts& facts) {
        Answered(code)(facts);
        facts.libcurlVersion = 0x080E01;
        facts.tlsWithoutCloseNotify = true;
        facts.bodyEndsWithConnection = framed;
        facts.errorDetail =
            "OpenSSL SSL_read: error:0A000126:SSL routines::unexpected eof while reading, errno 0";
    };
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
        CurlCase{"NothingAfterAnInterimAnswer",
                 Facts(CURLE_GOT_NOTHING,
                       [](auto& f) {
                           f.connected = true;
                           f.responseCode = 100;
                       }),
                 errorInvalidResponse},
        CurlCase{"BodyShort", Facts(CURLE_PARTIAL_FILE, Answered(200)), errorBodyTruncated},
        CurlCase{"HeadersCutAfterAContentLength",
                 Facts(CURLE_PARTIAL_FILE, [](auto& f) { f.connected = true; }),
                 errorHeaderIncomplete},
        // libcurl 7.88's code for a header line that begins with a blank and continues nothing.
        CurlCase{"BadArgumentWhileTheHeadArrives",
                 Facts(CURLE_BAD_FUNCTION_ARGUMENT, [](auto& f) { f.connected = true; }),
                 errorInvalidResponse},
        CurlCase{"BadArgumentElsewhere", Facts(CURLE_BAD_FUNCTION_ARGUMENT, Answered(200)),
                 errorTransferFailed},
        // The body of a redirect or a challenge is never the file.
        CurlCase{"RedirectBodyShort", Facts(CURLE_PARTIAL_FILE, Answered(302)), errorReceiveFailed},
        CurlCase{"ChallengeBodyShort", Facts(CURLE_PARTIAL_FILE, Answered(401)),
                 errorReceiveFailed},
        CurlCase{"NoStatusLine", Facts(CURLE_UNSUPPORTED_PROTOCOL), errorInvalidResponse},
        CurlCase{"NoStatusLineAfterARedirect",
                 Facts(CURLE_UNSUPPORTED_PROTOCOL,
                       [](auto& f) {
                           f.responseCode = 302;
                           f.effectiveUrl = "http://127.0.0.1:8080/next";
                       }),
                 errorInvalidResponse},
        CurlCase{"WeirdReply", Facts(CURLE_WEIRD_SERVER_REPLY), errorInvalidResponse},
        // libcurl 8's report of a TLS connection that ended without close_notify, by where the
        // answer stood; the same end read as 7.88 reads it gives the same texts.
        CurlCase{"TlsEndInABodyFramedByTheConnection", Facts(CURLE_RECV_ERROR, TlsEnd(200, true)),
                 errorTlsCutOff},
        CurlCase{"TlsEndShortOfTheLength", Facts(CURLE_RECV_ERROR, TlsEnd(200, false)),
                 errorBodyTruncated},
        CurlCase{"TlsEndInAnErrorPage", Facts(CURLE_RECV_ERROR, TlsEnd(404, true)), errorTlsCutOff},
        CurlCase{"TlsEndInARedirectsBody", Facts(CURLE_RECV_ERROR, TlsEnd(302, false)),
                 errorReceiveFailed},
        CurlCase{"TlsEndInTheHead",
                 Facts(CURLE_RECV_ERROR,
                       [](auto& f) {
                           TlsEnd(200, false)(f);
                           f.headComplete = false;
                       }),
                 errorHeaderIncomplete},
        // After the server's close_notify, or with a socket error, it is no such end.
        CurlCase{"TlsEndAfterCloseNotify",
                 Facts(CURLE_RECV_ERROR,
                       [](auto& f) {
                           TlsEnd(200, true)(f);
                           f.tlsWithoutCloseNotify = false;
                       }),
                 errorReceiveFailed},
        CurlCase{"TlsReadFailedWithASocketError",
                 Facts(CURLE_RECV_ERROR,
                       [](auto& f) {
                           TlsEnd(200, true)(f);
                           f.osErrno = ETIMEDOUT;
                       }),
                 errorReceiveFailed},
        CurlCase{"BrokenChunkedCoding",
                 Facts(CURLE_RECV_ERROR,
                       [](auto& f) {
                           f.connected = f.headComplete = true;
                           f.errorDetail =
                               "Illegal or missing hexadecimal sequence in chunked-encoding";
                       }),
                 errorInvalidResponse},
        CurlCase{"BadChunkSizeOnLibcurl8",
                 Facts(CURLE_RECV_ERROR,
                       [](auto& f) {
                           f.connected = f.headComplete = true;
                           f.errorDetail = "chunk hex-length char not a hex digit: 0x7a";
                       }),
                 errorInvalidResponse},
        CurlCase{"RedirectToOtherScheme",
                 Facts(CURLE_UNSUPPORTED_PROTOCOL,
                       [](auto& f) {
                           f.responseCode = 302;
                           f.effectiveUrl = "FTP://127.0.0.1/file";
                       }),
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
        CurlCase{"CaFileUnreadable", Facts(CURLE_SSL_CACERT_BADFILE),
                 errorTrustedCertificatesUnreadable},
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
                           f.connected = true;
                           f.errorDetail = "failed to allocate";
                       }),
                 errorOutOfMemory},
        CurlCase{"OutOfMemoryInTheBody", Facts(CURLE_OUT_OF_MEMORY, Answered(200)),
                 errorOutOfMemory},
        CurlCase{"HeaderLineTooLong",
                 Facts(CURLE_OUT_OF_MEMORY, [](auto& f) { f.connected = true; }),
                 errorHeaderTooLarge},
        // The redirect's head is complete; the answer to the request that followed it is not.
        CurlCase{"HeaderLineTooLongAfterARedirect",
                 Facts(CURLE_OUT_OF_MEMORY,
                       [](auto& f) {
                           f.connected = true;
                           f.responseCode = 302;
                       }),
                 errorHeaderTooLarge},
        // From libcurl 8.6 on a line over the limit has a code of its own: this is a shortage.
        CurlCase{"OutOfMemoryWhileTheHeadArrivesOnLibcurl8",
                 Facts(CURLE_OUT_OF_MEMORY,
                       [](auto& f) {
                           f.connected = true;
                           f.libcurlVersion = 0x080E01;
                       }),
                 errorOutOfMemory},
        CurlCase{"HeaderBlockTooLarge",
                 Facts(CURLE_RECV_ERROR,
                       [](auto& f) {
                           f.connected = true;
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
