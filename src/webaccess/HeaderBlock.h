#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korrin {

// The header block of the response being received, built from the header lines as they arrive.
// A block's first line is its status line and an empty line ends it. After an interim (1xx)
// block the next line begins the next block of the same answer; after any other block, lines are
// no part of a block (the trailers after a chunked body) until the layer says that a new request
// has gone out (ExpectNewBlock). So after redirects and authentication rounds it holds the final
// response's block, and a line that merely looks like a status line never starts one. Pure: no
// I/O.
class HeaderBlock {
  public:
    // The next line is the status line of a new block: a request has gone out, or a new
    // connection has been opened, and the server's next line begins its answer.
    void ExpectNewBlock() { awaitingStatus = true; }

    // Adds one line as received, with or without its line end. A Content-Length that cannot be
    // read is recorded (ContentLengthValid), never refused here: whether it matters depends on
    // what becomes of the block.
    void AddLine(std::string_view line);

    // A block has begun and its empty line has not arrived yet.
    bool Open() const { return !awaitingStatus && !statusLine.empty() && !ended; }

    // The last block has ended, and no further block of the same answer is awaited.
    bool Complete() const { return ended && !awaitingStatus; }

    // The status line and header lines in the order received, each ended by CR LF, and the empty
    // line that ends the block once it has arrived.
    const std::string& RawText() const { return raw; }

    // The value of the index-th header of that name (case-insensitive), with the blanks around it
    // removed; nothing when there is no such header. A header's name is all that comes before
    // its colon, so "Content-Length : 3" is no Content-Length, as libcurl reads it too.
    std::optional<std::string> Value(std::string_view name, std::size_t index = 0) const;

    // The status line's code, or 0 when no status line has arrived or it carries no code that
    // libcurl would read: "HTTP/", the version, one blank, optional further white space, then
    // exactly three digits making 100 or more.
    int StatusCode() const { return statusCode; }

    // The block's Content-Length, read by ParseContentLength, when every Content-Length header of
    // the block gives that same value; nothing when the block has none or they are not valid.
    std::optional<std::int64_t> ContentLength() const {
        return contentLengthValid ? contentLength : std::nullopt;
    }

    // False when a Content-Length of the block cannot be read by ParseContentLength, or differs
    // from an earlier one: the block's length is then not known for certain.
    bool ContentLengthValid() const { return contentLengthValid; }

    // The status line, without its line end; empty before one has arrived.
    const std::string& StatusLine() const { return statusLine; }

  private:
    std::string raw;
    std::string statusLine;
    int statusCode = 0;
    // Header lines of the block, without line ends, for Value().
    std::vector<std::string> lines;
    std::optional<std::int64_t> contentLength;
    bool contentLengthValid = true;
    bool awaitingStatus = true;  // the next line starts a new block
    bool ended = false;          // the current block's empty line has arrived
};

// Reads a Content-Length value by its strict rules: one or more decimal digits, after an optional
// '+' as libcurl's number reading allows (a list of equal values separated by commas is the same
// value), blanks around. Nothing when it is not such a number or does not fit in 63 bits.
std::optional<std::int64_t> ParseContentLength(std::string_view value);

}  // namespace korrin
