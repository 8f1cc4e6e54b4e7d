#pragma once

#include <string_view>

namespace korrin {

// Writes prompt to standard output and, when a person can answer it, waits for one key press on
// the controlling terminal (/dev/tty), read in non-canonical mode without echo or flow control.
// A person can answer only when standard input and standard output are both the controlling
// terminal and the process is in the terminal's foreground process group; otherwise (input or
// output redirected, no controlling terminal, a background job) the prompt goes out and the call
// returns at once, touching neither the terminal's settings nor its input. The prompt goes out
// only once the terminal is in key mode, so that a key pressed as soon as the prompt shows is
// never echoed. A key that sends several bytes (an arrow or function key's escape sequence, a
// multibyte character) is one key press, and all of its bytes are consumed, so that none reaches
// the shell afterwards; Ctrl-S and Ctrl-Q are keys like the others.
//
// The terminal's settings are restored on every way out, also when a signal ends the process
// during the wait (any signal whose default action ends it: SignalRules), and no terminal call of
// the wait ever stops the process. Ctrl-Z restores them before the process stops; continued in
// the foreground, the wait switches to key mode again, and continued in the background it
// returns. A signal that the process was started with ignored stays ignored. Returns right after
// the prompt when the terminal cannot be switched.
void WaitForKeyPress(std::string_view prompt);

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

}  // namespace korrin
