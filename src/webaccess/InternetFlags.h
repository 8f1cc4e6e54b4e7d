#pragma once

#include <cstdint>

namespace korrin {

// Request flags of OpenGetRequest.
// Never answer from a cache. Nothing needs doing for it: libcurl keeps no cache, so every answer
// is the server's.
inline constexpr std::uint32_t INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr std::uint32_t INTERNET_FLAG_SECURE = 0x00800000;  // TLS, verified

// Levels of CHttpFile::QueryHeaderText.
inline constexpr std::uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr std::uint32_t HTTP_QUERY_RAW_HEADERS_CRLF = 22;

}  // namespace korrin
