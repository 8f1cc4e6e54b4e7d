#include "webaccess/CurlHandles.h"

namespace korrin {

namespace {
// Initialises libcurl when constructed and cleans it up when the program ends.
class CurlGlobalGuard {
  public:
    CurlGlobalGuard() noexcept : result(curl_global_init(CURL_GLOBAL_DEFAULT)) {}
    ~CurlGlobalGuard() {
        if (result == CURLE_OK) curl_global_cleanup();
    }
    CurlGlobalGuard(const CurlGlobalGuard&) = delete;
    CurlGlobalGuard& operator=(const CurlGlobalGuard&) = delete;

    const CURLcode result;
};
}  // namespace

CURLcode CurlGlobalInit() noexcept {
    static const CurlGlobalGuard guard;
    return guard.result;
}

}  // namespace korrin
