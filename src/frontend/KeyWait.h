#pragma once

#include <string_view>

// The byte rules of a key press, which the wait applies.
#include "frontend/KeyPress.h"  // IWYU pragma: export

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

}  // namespace korrin
