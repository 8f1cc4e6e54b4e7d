#include "webaccess/HeaderBlock.h"

#include <strings.h>

#include <cstring>
#include <limits>

namespace korrin {

namespace {

std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string_view WithoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

// The code of "HTTP/x.y NNN reason", read as libcurl reads it: white space after the version's
// blank is skipped, and a code of more than three digits or below 100 is none. 0 for none.
int ParseStatusCode(std::string_view line) {
    if (line.substr(0, 5) != "HTTP/") return 0;
    auto at = line.find(' ');
    if (at == std::string_view::npos) return 0;
    while (at < line.size() && std::strchr(" \t\v\f\r", line[at]) != nullptr) ++at;
    int code = 0;
    int digits = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at, ++digits) {
        if (digits == 3) return 0;
        code = code * 10 + (line[at] - '0');
    }
    return digits == 3 && code >= 100 ? code : 0;
}

// Splits "Name: value" into its name, all that comes before the colon, and its trimmed value;
// false for a line without a colon.
bool SplitHeader(std::string_view line, std::string_view& name, std::string_view& value) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    name = line.substr(0, colon);
    value = TrimBlanks(line.substr(colon + 1));
    return true;
}

bool NameIs(std::string_view name, std::string_view wanted) {
    return name.size() == wanted.size() &&
           strncasecmp(name.data(), wanted.data(), wanted.size()) == 0;
}

}  // namespace

std::optional<std::int64_t> ParseContentLength(std::string_view value) {
    std::optional<std::int64_t> result;
    while (true) {
        const auto comma = value.find(',');
        const std::string_view item = TrimBlanks(value.substr(0, comma));
        if (item.empty()) return std::nullopt;
        std::int64_t number = 0;
        for (const char c : item) {
            if (c < '0' || c > '9') return std::nullopt;
            if (number > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10)
                return std::nullopt;
            number = number * 10 + (c - '0');
        }
        if (result && *result != number) return std::nullopt;
        result = number;
        if (comma == std::string_view::npos) return result;
        value.remove_prefix(comma + 1);
    }
}

bool HeaderBlock::AddLine(std::string_view line) {
    const std::string_view text = WithoutLineEnd(line);
    if (awaitingStatus) {
        // No block begins with an empty line.
        if (text.empty()) return true;
        awaitingStatus = false;
        ended = false;
        raw.clear();
        lines.clear();
        contentLength.reset();
        statusLine = text;
        statusCode = ParseStatusCode(text);
    } else if (ended || statusLine.empty()) {
        // After the end of the block: trailers, which belong to no header block.
        return true;
    } else if (text.empty()) {
        ended = true;
        // An interim answer is followed by the next block of the same answer.
        if (statusCode >= 100 && statusCode <= 199) awaitingStatus = true;
    } else {
        lines.emplace_back(text);
        std::string_view name;
        std::string_view value;
        if (SplitHeader(text, name, value) && NameIs(name, "Content-Length")) {
            const auto length = ParseContentLength(value);
            if (!length || (contentLength && *contentLength != *length)) return false;
            contentLength = length;
        }
    }
    raw.append(text).append("\r\n");
    return true;
}

std::optional<std::string> HeaderBlock::Value(std::string_view name, std::size_t index) const {
    for (const std::string& line : lines) {
        std::string_view lineName;
        std::string_view value;
        if (SplitHeader(line, lineName, value) && NameIs(lineName, name)) {
            if (index == 0) return std::string(value);
            --index;
        }
    }
    return std::nullopt;
}

bool FollowUpPossible(const HeaderBlock& block, bool credentialsSet) {
    const int status = block.StatusCode();
    if (status >= 300 && status <= 399) {
        // libcurl follows the first Location that is not empty.
        for (std::size_t i = 0;; ++i) {
            const auto location = block.Value("Location", i);
            if (!location) return false;
            if (!location->empty()) return true;
        }
    }
    // Whether libcurl answers a challenge depends on what it offered before and on the schemes
    // offered now; the answer it gives up on reaches the caller when its transfer ends.
    if (status == 401) return credentialsSet;
    // A proxy's credentials come from the proxy setting, which libcurl reads for itself.
    return status == 407;
}

}  // namespace korrin
