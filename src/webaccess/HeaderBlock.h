#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korrin {

// The header block of the response being received, built from the header lines as they arrive.
// A status line starts a new block, so after redirects and authentication rounds it holds the
// final response's block. Pure: no I/O.
class HeaderBlock {
public:
    // Adds one line as received, with or without its line end. Returns false when the line makes
    // the response's framing invalid: a Content-Length that is not a decimal number that fits in
    // 63 bits, or one that differs from an earlier Content-Length of the same block.
    bool AddLine(std::string_view line);

    // The status line and header lines in the order received, each ended by CR LF, and the empty
    // line that ends the block once it has arrived.
    const std::string& RawText() const { return raw; }

    // The value of the index-th header of that name (case-insensitive), with the blanks around it
    // removed; nothing when there is no such header.
    std::optional<std::string> Value(std::string_view name, std::size_t index = 0) const;

    // The status line's code, or 0 when no status line has arrived or it carries no code.
    int StatusCode() const { return statusCode; }

    // The status line, without its line end; empty before one has arrived.
    const std::string& StatusLine() const { return statusLine; }

private:
    std::string raw;
    std::string statusLine;
    int statusCode = 0;
    // Header lines of the block, without line ends, for Value().
    std::vector<std::string> lines;
    std::optional<std::string> contentLength;
};

// Reads a Content-Length value by its strict rules: one or more decimal digits (a list of equal
// values separated by commas is the same value), blanks around. Nothing when it is not such a
// number or does not fit in 63 bits.
std::optional<std::int64_t> ParseContentLength(std::string_view value);

}  // namespace korrin
