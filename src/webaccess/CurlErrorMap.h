#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>

namespace korrin {

// What is known about a failed transfer when libcurl reports it: its code, and the few facts
// that tell apart failures that libcurl reports under one code.
struct CurlFailureFacts {
    CURLcode code = CURLE_OK;
    long osErrno = 0;            // CURLINFO_OS_ERRNO
    long verifyResult = 0;       // CURLINFO_SSL_VERIFYRESULT (an X509_V_ERR_* value)
    bool connected = false;      // a connection to the server (or proxy) had been made
    long responseCode = 0;       // CURLINFO_RESPONSE_CODE of the last response
    long proxyConnectCode = 0;   // CURLINFO_HTTP_CONNECTCODE: a proxy's refusal of CONNECT
    // A connection had been made and the header block of a response had begun but not ended.
    bool headerPending = false;
    std::string errorDetail;     // libcurl's error buffer (CURLOPT_ERRORBUFFER); may be empty
};

// The layer's error number (InternetErrors.h) for a failed transfer. A pure function of the facts.
std::uint32_t InternetErrorFromCurl(const CurlFailureFacts& facts);

}  // namespace korrin
