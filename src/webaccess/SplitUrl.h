#pragma once

#include <cstdint>
#include <string>

namespace korrin {

// Service kinds that SplitUrl gives for a URL's scheme.
enum ServiceKind : std::uint32_t {
    serviceFtp = 1,
    serviceGopher = 2,
    serviceHttp = 3,
    serviceOther = 0x1000,
    serviceFile = 0x1001,
    serviceMailto = 0x1002,
    serviceNews = 0x1006,
    serviceHttps = 0x100B,
};

// Longest host name and longest object that a URL may carry, in bytes.
inline constexpr std::size_t maxUrlComponentLength = 2083;

// Splits an absolute URL into the host name (server), the path with its query (object) and the
// port: the one written in the URL or the scheme's default. Returns false when the URL does not
// split; port is then left alone. serviceKind is always written (serviceOther unless the URL
// split). Never throws.
//
// The URL is canonicalised first: a space, a control byte or a byte above 0x7E anywhere, and one
// of " < > \ ^ ` { | } before the query, becomes its %XX escape; "." and ".." path segments are
// resolved; %XX escapes already present are kept as they are, never decoded. The query is kept
// otherwise unchanged. A user name and password in the URL, and the fragment, are dropped.
bool SplitUrl(const char* url, std::uint32_t& serviceKind, std::string& server, std::string& object,
              std::uint16_t& port) noexcept;

}  // namespace korrin
