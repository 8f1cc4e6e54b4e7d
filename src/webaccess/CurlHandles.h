#pragma once

#include <curl/curl.h>

#include <memory>

namespace korrin {

// Owners of libcurl's C handles: each frees its handle with the matching libcurl call.
struct CurlEasyDeleter {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* handle) const noexcept { curl_multi_cleanup(handle); }
};
struct CurlSlistDeleter {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
struct CurlUrlDeleter {
    void operator()(CURLU* handle) const noexcept { curl_url_cleanup(handle); }
};
struct CurlFreeDeleter {
    void operator()(char* text) const noexcept { curl_free(text); }
};

using CurlEasyPtr = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMultiPtr = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlSlistPtr = std::unique_ptr<curl_slist, CurlSlistDeleter>;
using CurlUrlPtr = std::unique_ptr<CURLU, CurlUrlDeleter>;
using CurlStringPtr = std::unique_ptr<char, CurlFreeDeleter>;

// libcurl's process-wide initialisation, done once, on first use, and undone at exit. Returns the
// result of curl_global_init; every later call returns the same result.
CURLcode CurlGlobalInit() noexcept;

}  // namespace korrin
