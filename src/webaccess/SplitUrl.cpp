#include "webaccess/SplitUrl.h"

#include <strings.h>

#include <cstdlib>
#include <string_view>

#include "webaccess/CurlHandles.h"

namespace korrin {

namespace {

// A byte that cannot stand in a request line anywhere.
bool NeverLiteral(unsigned char byte) { return byte <= 0x20 || byte >= 0x7F; }

// A printable byte that is unsafe in a URL's path, though harmless in its query.
bool UnsafeInPath(unsigned char byte) {
    return std::string_view("\"<>\\^`{|}").find(static_cast<char>(byte)) != std::string_view::npos;
}

// Escapes what the canonical form escapes (see SplitUrl) and drops the fragment, which is never
// sent to a server.
std::string EscapeUnsafe(std::string_view url) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size() + 16);
    bool inQuery = false;
    for (std::size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        const auto byte = static_cast<unsigned char>(c);
        if (c == '#') break;
        if (c == '?') inQuery = true;
        if (NeverLiteral(byte) || (!inQuery && UnsafeInPath(byte))) {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

struct SchemeKind {
    const char* scheme;
    std::uint32_t kind;
};
constexpr SchemeKind schemeKinds[] = {
    {"ftp", serviceFtp},       {"gopher", serviceGopher}, {"http", serviceHttp},
    {"https", serviceHttps},   {"file", serviceFile},     {"news", serviceNews},
    {"mailto", serviceMailto},
};

std::uint32_t KindOfScheme(const char* scheme) {
    for (const SchemeKind& entry : schemeKinds) {
        if (strcasecmp(entry.scheme, scheme) == 0) return entry.kind;
    }
    return serviceOther;
}

// One URL part as text, or null when the URL has none.
CurlStringPtr GetPart(CURLU* url, CURLUPart part, unsigned int flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK) return nullptr;
    return CurlStringPtr(text);
}

}  // namespace

bool SplitUrl(const char* url, std::uint32_t& serviceKind, std::string& server, std::string& object,
              std::uint16_t& port) noexcept {
    serviceKind = serviceOther;
    if (url == nullptr) return false;
    try {
        const std::string canonical = EscapeUnsafe(url);
        CurlUrlPtr handle(curl_url());
        if (!handle) return false;
        // Any scheme splits, as long as the URL names a host and a port can be had for it.
        if (curl_url_set(handle.get(), CURLUPART_URL, canonical.c_str(),
                         CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
            return false;
        }
        const CurlStringPtr scheme = GetPart(handle.get(), CURLUPART_SCHEME);
        const CurlStringPtr host = GetPart(handle.get(), CURLUPART_HOST);
        const CurlStringPtr portText = GetPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
        const CurlStringPtr path = GetPart(handle.get(), CURLUPART_PATH);
        const CurlStringPtr query = GetPart(handle.get(), CURLUPART_QUERY);
        if (!scheme || !host || !portText || !path || host.get()[0] == '\0') return false;

        std::string splitObject = path.get();
        if (splitObject.empty()) splitObject = "/";
        if (query) splitObject.append("?").append(query.get());
        const long portNumber = std::strtol(portText.get(), nullptr, 10);
        if (portNumber < 1 || portNumber > 65535) return false;
        if (std::string_view(host.get()).size() > maxUrlComponentLength ||
            splitObject.size() > maxUrlComponentLength) {
            return false;
        }

        server = host.get();
        object = std::move(splitObject);
        port = static_cast<std::uint16_t>(portNumber);
        serviceKind = KindOfScheme(scheme.get());
        return true;
    } catch (...) {
        // Out of memory while copying: the URL does not split.
        return false;
    }
}

}  // namespace korrin
