#include "webaccess/InternetLastError.h"

#include <utility>

namespace korrin {

namespace {
thread_local std::uint32_t lastError = 0;
thread_local std::string lastResponseInfo;
}  // namespace

void SetLastInternetError(std::uint32_t errorCode) noexcept { lastError = errorCode; }

std::uint32_t GetLastInternetError() noexcept { return lastError; }

void SetLastResponseInfo(std::string text) { lastResponseInfo = std::move(text); }

const std::string& GetLastResponseInfo() noexcept { return lastResponseInfo; }

}  // namespace korrin
