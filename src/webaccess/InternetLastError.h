#pragma once

#include <cstdint>
#include <string>

namespace korrin {

// The layer's "last error" and "last response text", kept per thread: the layer's answer to "what
// went wrong last". A failure object takes its own copy when it is raised (ThrowInternetFailure),
// so nothing recorded here later changes its report. An operation may record its number here and
// raise with ThrowInternetFailure(context, 0), which picks up both values.
void SetLastInternetError(std::uint32_t errorCode) noexcept;
std::uint32_t GetLastInternetError() noexcept;

// The text that the server or a proxy last sent with a failure (its status line, for example);
// empty when there is none. Read for the extended error's report.
void SetLastResponseInfo(std::string text);
const std::string& GetLastResponseInfo() noexcept;

}  // namespace korrin
