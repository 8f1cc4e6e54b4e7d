// Any byte string as a URL: SplitUrl must neither fault nor throw, and what it hands on as the
// object must be canonical (no blank, control byte or byte above 0x7E survives).

#include <cstdint>
#include <cstdlib>
#include <string>

#include "webaccess/SplitUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    std::uint32_t kind = 0;
    std::string server;
    std::string object;
    std::uint16_t port = 0;
    if (korrin::SplitUrl(url.c_str(), kind, server, object, port)) {
        for (const char c : object) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte <= 0x20 || byte > 0x7E) std::abort();
        }
        if (server.size() > korrin::maxUrlComponentLength ||
            object.size() > korrin::maxUrlComponentLength * 3) {
            std::abort();
        }
    }
    return 0;
}
