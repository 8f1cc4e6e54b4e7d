#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace korrin {

// What is known about a failed transfer when libcurl reports it: its code, and the few facts
// that tell apart failures that libcurl reports under one code.
struct CurlFailureFacts {
    CURLcode code = CURLE_OK;
    long osErrno = 0;       // CURLINFO_OS_ERRNO
    long verifyResult = 0;  // CURLINFO_SSL_VERIFYRESULT
    // verifyResult is one of OpenSSL's X509_V_ERR_* codes: libcurl's TLS backend is OpenSSL.
    // Other backends store codes of their own there, which the map does not read.
    bool verifyResultIsOpenssl = false;
    bool connected = false;     // a connection to the server (or proxy) had been made
    long responseCode = 0;      // CURLINFO_RESPONSE_CODE of the last response
    long proxyConnectCode = 0;  // CURLINFO_HTTP_CONNECTCODE: a proxy's refusal of CONNECT
    // The header block of the answer to the latest request has ended (HeaderBlock::Complete): a
    // final answer, or one that libcurl follows up. False while that answer's head is still
    // awaited, whether or not any of it has arrived, and after an interim (1xx) answer.
    bool headComplete = false;
    // The version of the libcurl in use (curl_version_info's version_num, 0x080e01 for 8.14.1);
    // 0 when unknown, read as a libcurl before 8.
    unsigned int libcurlVersion = 0;
    // The last connection is a TLS one whose server never ended its TLS session with
    // close_notify.
    bool tlsWithoutCloseNotify = false;
    // The final answer's body has neither a length nor chunked coding: the connection's end is
    // its end. Only read with headComplete.
    bool bodyEndsWithConnection = false;
    // The URL that libcurl was working on (CURLINFO_EFFECTIVE_URL): after a redirect, its target.
    std::string effectiveUrl;
    std::string errorDetail;  // libcurl's error buffer (CURLOPT_ERRORBUFFER); may be empty
};

// The layer's error number (InternetErrors.h) for a failed transfer. A pure function of the facts.
// A code with no number of its own gives errorTransferFailed, whose report adds libcurl's words.
std::uint32_t InternetErrorFromCurl(const CurlFailureFacts& facts);

// libcurl's own words on a failure with code: its error buffer (errorBuffer, which may be null)
// when that holds any, else its fixed text for the code; line ends at the end are dropped.
std::string CurlWords(const char* errorBuffer, CURLcode code);

// Whether the TLS backend that libcurl uses is OpenSSL, from the ssl_version text of
// curl_version_info ("OpenSSL/3.0.11"). A build with several backends names the ones not in use
// in parentheses ("(OpenSSL/3.0.11) GnuTLS/3.7.9").
bool TlsBackendIsOpenssl(std::string_view sslVersion);

}  // namespace korrin
