#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korrin {

// The layer's message table: the text for one of its own error numbers (InternetErrors.h).
// Returns false, leaving text alone, for a number the table does not hold.
bool LookUpLayerMessage(std::uint32_t errorCode, std::string& text);

// The system's message table: the C library's text for an errno value. Returns false for a
// number the C library does not know.
bool LookUpSystemMessage(std::uint32_t errorCode, std::string& text);

// A server's text made safe for a terminal: every control character becomes a blank (bytes below
// 0x20 and 0x7F; the C1 controls, U+0080 to U+009F, in UTF-8; and a byte from 0x80 to 0x9F that
// is not part of a well-formed UTF-8 sequence), and blanks at either end are trimmed, so a server
// cannot move the cursor, clear the screen or set the window title of the user's terminal. Other
// bytes, UTF-8 or not, pass unchanged.
std::string PrintableResponseText(std::string_view text);

// The same replacement of control characters as PrintableResponseText, with nothing trimmed: for
// a text the user gave (a URL echoed in a report), whose printable bytes stay exactly as given.
std::string PrintableText(std::string_view text);

// Every C0 control byte (below 0x20) and DEL becomes a blank, and every other byte stays: for a
// text that anyone can set and that goes into a header line or onto the console (the agent text,
// made from argument 0). CR and LF could otherwise end the header line and start another; ESC
// could start a terminal's control sequence.
std::string BlankControlBytes(std::string text);

}  // namespace korrin
