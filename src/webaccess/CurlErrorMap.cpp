#include "webaccess/CurlErrorMap.h"

#include <cerrno>
#include <string_view>

#include "webaccess/InternetErrors.h"

namespace korrin {

namespace {
// OpenSSL's verification results that mean "outside its validity period".
constexpr long x509CertNotYetValid = 9;
constexpr long x509CertHasExpired = 10;
constexpr long x509Ok = 0;
// libcurl 7.88 stores this ("unspecified") before it checks the name itself, and reads OpenSSL's
// verdict on the chain only after the name matched: a name that does not match leaves it.
constexpr long x509Unspecified = 1;
// OpenSSL's own name checks, which libcurl may leave to it.
constexpr long x509HostnameMismatch = 62;
constexpr long x509IpAddressMismatch = 64;

// libcurl's error-buffer text when the response's header block as a whole outgrows its limit.
constexpr std::string_view headersTooLargeDetail = "Too large response headers";

// OpenSSL's words (in libcurl's error buffer) for a TLS connection whose TCP connection ended
// without close_notify.
constexpr std::string_view tlsUnexpectedEofDetail = "unexpected eof while reading";

// From libcurl 8.6 on, one header line over libcurl's limit is reported as CURLE_TOO_LARGE, so
// that running out of memory means just that.
constexpr unsigned int libcurlTooLargeCode = 0x080600;

// libcurl's error-buffer texts for a chunked body that breaks the coding's syntax end in this.
constexpr std::string_view chunkedCodingDetail = "in chunked-encoding";
// libcurl 8 words a chunk size that is not one in these (its error buffer keeps the first).
constexpr std::string_view chunkSizeDetails[] = {"chunk hex-length", "invalid chunk size"};

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

// Whether url's scheme is one that the layer lets libcurl follow a redirect to.
bool SchemeIsHttp(std::string_view url) {
    const auto colon = url.find("://");
    if (colon == std::string_view::npos) return false;
    std::string scheme(url.substr(0, colon));
    for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return scheme == "http" || scheme == "https";
}

// An answer that libcurl follows up rather than hands over: a redirect, or a request for
// credentials. Its body is never the file.
bool AnswerIsFollowedUp(long responseCode) {
    return (responseCode >= 300 && responseCode < 400) || responseCode == 401 ||
           responseCode == 407;
}

std::uint32_t ConnectFailure(long osErrno) {
    switch (osErrno) {
        case ECONNREFUSED:
            return errorConnectionRefused;
        case ENETUNREACH:
        case EHOSTUNREACH:
            return errorHostUnreachable;
        case ETIMEDOUT:
            return errorConnectTimeout;
        default:
            return errorCannotConnect;
    }
}
}  // namespace

std::uint32_t InternetErrorFromCurl(const CurlFailureFacts& facts) {
    // The head of the latest request's answer is still awaited on a connection: a redirect or an
    // answered challenge before it has no part in what goes wrong now.
    const bool headPending = facts.connected && !facts.headComplete;
    switch (facts.code) {
        case CURLE_OUT_OF_MEMORY:
            // libcurl before 8.6 reports one header line that outgrows its limit as running out
            // of memory, and leaves its error buffer empty then. A real shortage while a header
            // block is arriving is far less likely than a server that sends such a line.
            if (headPending && facts.errorDetail.empty() &&
                facts.libcurlVersion < libcurlTooLargeCode)
                return errorHeaderTooLarge;
            return errorOutOfMemory;
        case CURLE_URL_MALFORMAT:
            // The user's URL was checked before the request was made; a URL that libcurl cannot
            // read while a redirect answer is on hand is that answer's Location.
            if (facts.responseCode >= 300 && facts.responseCode < 400)
                return errorRedirectInvalidUrl;
            return errorInvalidUrl;
        case CURLE_COULDNT_RESOLVE_HOST:
            return errorNameNotResolved;
        case CURLE_COULDNT_RESOLVE_PROXY:
            return errorProxyNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            if (facts.proxyConnectCode != 0) return errorExtended;
            return ConnectFailure(facts.osErrno);
        case CURLE_OPERATION_TIMEDOUT:
            return facts.connected ? errorStalled : errorConnectTimeout;
        case CURLE_UNSUPPORTED_PROTOCOL:
            // Both a redirect to a scheme outside http and https, and an answer without a status
            // line (an HTTP/0.9 answer, or garbage), come back as this code. The redirect is the
            // cause only when libcurl was left holding its target: an answer without a status
            // line after a redirect leaves an http or https URL.
            if (facts.responseCode >= 300 && facts.responseCode < 400 &&
                !facts.effectiveUrl.empty() && !SchemeIsHttp(facts.effectiveUrl))
                return errorSchemeNotAllowed;
            return errorInvalidResponse;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_RANGE_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return errorInvalidResponse;
        case CURLE_BAD_FUNCTION_ARGUMENT:
            // libcurl 7.88 refuses a header line that begins with a blank and has no field
            // before it to continue under this code, before the line reaches the layer.
            if (headPending) return errorInvalidResponse;
            return errorTransferFailed;
        case CURLE_TOO_MANY_REDIRECTS:
            return errorTooManyRedirects;
        case CURLE_GOT_NOTHING:
            // After an interim answer the server did answer; what came instead of the final
            // answer was not one (libcurl says "empty reply" for bytes that never made a line).
            if (facts.responseCode >= 100 && facts.responseCode < 200) return errorInvalidResponse;
            return errorNoResponse;
        case CURLE_PARTIAL_FILE:
            // libcurl takes a Content-Length from a header block that then never ends, and
            // reports its missing body; what is missing is the end of the headers.
            if (headPending) return errorHeaderIncomplete;
            // A redirect or a challenge whose body was cut: the file was never on its way, and
            // what could not be received is the server's answer.
            if (AnswerIsFollowedUp(facts.responseCode)) return errorReceiveFailed;
            return errorBodyTruncated;
        case CURLE_SEND_ERROR:
            return facts.osErrno == ECONNRESET || facts.osErrno == EPIPE ? errorConnectionReset
                                                                         : errorSendFailed;
        case CURLE_RECV_ERROR:
            // A proxy that answered CONNECT with a refusal: its status line is the report.
            if (facts.proxyConnectCode != 0) return errorExtended;
            if (headPending && StartsWith(facts.errorDetail, headersTooLargeDetail))
                return errorHeaderTooLarge;
            // A chunk size or chunk end that breaks the coding: the answer is not valid HTTP.
            if (std::string_view(facts.errorDetail).find(chunkedCodingDetail) !=
                std::string_view::npos)
                return errorInvalidResponse;
            for (const std::string_view detail : chunkSizeDetails)
                if (StartsWith(facts.errorDetail, detail)) return errorInvalidResponse;
            // libcurl 8 reports a TLS connection that ends without close_notify as a failed
            // receive, where 7.88 takes that end as the end of the data and judges what it has.
            // The same end reads the same on both: a head that never ended, an answer cut that
            // libcurl would have followed up, a body cut short of its length or its last chunk,
            // or a body framed by the connection's end that may have been cut anywhere.
            if (facts.tlsWithoutCloseNotify && facts.osErrno == 0 &&
                std::string_view(facts.errorDetail).find(tlsUnexpectedEofDetail) !=
                    std::string_view::npos) {
                if (headPending) return errorHeaderIncomplete;
                if (facts.headComplete) {
                    if (AnswerIsFollowedUp(facts.responseCode)) return errorReceiveFailed;
                    return facts.bodyEndsWithConnection ? errorTlsCutOff : errorBodyTruncated;
                }
            }
            return facts.osErrno == ECONNRESET ? errorConnectionReset : errorReceiveFailed;
        case CURLE_SSL_CONNECT_ERROR:
            return errorTlsHandshake;
        case CURLE_PEER_FAILED_VERIFICATION:
            // Only OpenSSL's verdict is understood here; with another backend the certificate
            // was not accepted, and that is all that can be said.
            if (!facts.verifyResultIsOpenssl) return errorCertificateUntrusted;
            // No verdict on the chain (or OpenSSL's own name mismatch) means the name check
            // failed: libcurl checks the name before it reads what OpenSSL found in the chain.
            if (facts.verifyResult == x509Ok || facts.verifyResult == x509Unspecified ||
                facts.verifyResult == x509HostnameMismatch ||
                facts.verifyResult == x509IpAddressMismatch)
                return errorCertificateWrongName;
            if (facts.verifyResult == x509CertHasExpired ||
                facts.verifyResult == x509CertNotYetValid)
                return errorCertificateExpired;
            return errorCertificateUntrusted;
        case CURLE_SSL_CACERT_BADFILE:
            return errorTrustedCertificatesUnreadable;
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CRL_BADFILE:
            return errorTlsSetup;
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return errorCertificateUntrusted;
        case CURLE_PROXY:
            return errorProxyRefused;  // a SOCKS proxy's refusal
        case CURLE_AUTH_ERROR:
            return errorAuthenticationFailed;
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_USE_SSL_FAILED:
            return errorTlsHandshake;
#if LIBCURL_VERSION_NUM >= 0x080600
        // libcurl 8.6 and later report a response header block over their limit with this code.
        case CURLE_TOO_LARGE:
            return errorHeaderTooLarge;
#endif
        default:
            return errorTransferFailed;
    }
}

std::string CurlWords(const char* errorBuffer, CURLcode code) {
    std::string words = errorBuffer != nullptr && errorBuffer[0] != '\0'
                            ? std::string(errorBuffer)
                            : std::string(curl_easy_strerror(code));
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r')) words.pop_back();
    return words;
}

bool TlsBackendIsOpenssl(std::string_view sslVersion) {
    constexpr std::string_view openssl = "OpenSSL/";
    while (!sslVersion.empty()) {
        const auto end = sslVersion.find(' ');
        const std::string_view name = sslVersion.substr(0, end);
        // The backend in use is the one named without parentheses.
        if (!name.empty() && name.front() != '(') return name.substr(0, openssl.size()) == openssl;
        if (end == std::string_view::npos) break;
        sslVersion.remove_prefix(end + 1);
    }
    return false;
}

}  // namespace korrin
