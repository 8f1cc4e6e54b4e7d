#pragma once

#include <cstddef>
#include <string_view>

namespace korrin {

// Whether bytes, read from the terminal in the order they came, make up a whole key press, so
// that no further byte belongs to it:
// - one byte below 0x80 other than ESC (0x1B) is a key;
// - a UTF-8 lead byte wants its continuation bytes; a byte that cannot begin UTF-8 is a key of
//   its own (a single-byte code page);
// - ESC "[" wants parameter bytes up to a final byte in 0x40-0x7E (ESC "[" "[" and one more
//   byte, for the Linux console's function keys); ESC "O" wants one more byte; ESC followed by
//   anything else is that key with Alt held.
// A lone ESC is never complete here: the Escape key is told from the start of a sequence only by
// the absence of a next byte, which the caller waits for within a bound.
bool KeyPressComplete(std::string_view bytes);

// No key sends more than this; a longer run of bytes is cut off as one key press.
constexpr std::size_t longestKeySequence = 32;

// The last line of a prompt, without the line feed before it: what is shown again when the wait
// resumes after a stop.
std::string_view LastLine(std::string_view prompt);

}  // namespace korrin
