#include "webaccess/HeaderBlock.h"

#include <strings.h>

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

bool IsStatusLine(std::string_view line) { return line.substr(0, 5) == "HTTP/"; }

// The code of "HTTP/x.y NNN reason", or 0.
int ParseStatusCode(std::string_view line) {
    const auto blank = line.find(' ');
    if (blank == std::string_view::npos) return 0;
    int code = 0;
    int digits = 0;
    for (auto i = blank + 1; i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 3;
         ++i, ++digits) {
        code = code * 10 + (line[i] - '0');
    }
    return digits == 3 ? code : 0;
}

// Splits "Name: value" into its name and trimmed value; false for a line without a colon.
bool SplitHeader(std::string_view line, std::string_view& name, std::string_view& value) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    name = TrimBlanks(line.substr(0, colon));
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
    if (IsStatusLine(text)) {
        raw.clear();
        lines.clear();
        contentLength.reset();
        statusLine = text;
        statusCode = ParseStatusCode(text);
    } else if (!text.empty()) {
        lines.emplace_back(text);
        std::string_view name;
        std::string_view value;
        if (SplitHeader(text, name, value) && NameIs(name, "Content-Length")) {
            if (!ParseContentLength(value)) return false;
            if (contentLength && *ParseContentLength(*contentLength) != *ParseContentLength(value))
                return false;
            contentLength = std::string(value);
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

}  // namespace korrin
