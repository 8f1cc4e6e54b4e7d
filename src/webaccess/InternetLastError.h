#pragma once

#include <cstdint>
#include <string>

namespace korrin {

// The layer's "last error" and "last response text", kept per thread. An operation that fails
// records its number here straight away, and ThrowInternetFailure(context, 0) picks it up, so the
// failure object always carries the number of the call that failed.
void SetLastInternetError(std::uint32_t errorCode) noexcept;
std::uint32_t GetLastInternetError() noexcept;

// The text that the server or a proxy last sent with a failure (its status line, for example);
// empty when there is none. Read for the extended error's report.
void SetLastResponseInfo(std::string text);
const std::string& GetLastResponseInfo() noexcept;

}  // namespace korrin
