#include "webaccess/CurlReading.h"

#include "webaccess/EqualFolded.h"

namespace korrin {

std::vector<std::string> LatestHeaderValues(CURL* easy, const char* name) {
    std::vector<std::string> values;
    curl_header* header = nullptr;
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK ||
        header == nullptr)
        return values;
    const std::size_t amount = header->amount;
    values.reserve(amount);
    for (std::size_t i = 0; i < amount; ++i) {
        if (curl_easy_header(easy, name, i, CURLH_HEADER, -1, &header) != CURLHE_OK ||
            header == nullptr)
            break;
        values.emplace_back(header->value != nullptr ? header->value : "");
    }
    return values;
}

bool NamesChunkedCoding(const std::vector<std::string>& transferEncodings) {
    for (const std::string& line : transferEncodings) {
        std::string_view list = line;
        while (!list.empty()) {
            const auto comma = list.find(',');
            std::string_view name = list.substr(0, comma);
            while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
                name.remove_prefix(1);
            while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ')
                name.remove_suffix(1);
            if (EqualFolded(name, "chunked")) return true;
            if (comma == std::string_view::npos) break;
            list.remove_prefix(comma + 1);
        }
    }
    return false;
}

}  // namespace korrin
