#include "webaccess/HeaderBlock.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "webaccess/EqualFolded.h"
#include "webaccess/TrimBlanks.h"

namespace korrin {

namespace {

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

bool NameIs(std::string_view name, std::string_view wanted) { return EqualFolded(name, wanted); }

}  // namespace

std::optional<std::int64_t> ParseContentLength(std::string_view value) {
    std::optional<std::int64_t> result;
    while (true) {
        const auto comma = value.find(',');
        const std::string_view item = TrimBlanks(value.substr(0, comma));
        const std::string_view digits = item.substr(item.substr(0, 1) == "+" ? 1 : 0);
        if (digits.empty()) return std::nullopt;
        std::int64_t number = 0;
        for (const char c : digits) {
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

void HeaderBlock::AddLine(std::string_view line) {
    const std::string_view text = WithoutLineEnd(line);
    if (awaitingStatus) {
        // No block begins with an empty line.
        if (text.empty()) return;
        awaitingStatus = false;
        ended = false;
        raw.clear();
        lines.clear();
        contentLength.reset();
        contentLengthValid = true;
        statusLine = text;
        statusCode = ParseStatusCode(text);
    } else if (ended || statusLine.empty()) {
        // After the end of the block: trailers, which belong to no header block.
        return;
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
            if (!length || (contentLength && *contentLength != *length)) contentLengthValid = false;
            if (!contentLength) contentLength = length;
        }
    }
    raw.append(text).append("\r\n");
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

}  // namespace korrin
