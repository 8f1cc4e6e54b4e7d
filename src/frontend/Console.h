#pragma once

#include <string>

namespace korrin {

// Writes "\nPress any key to continue..." to standard output and waits for one key press on the
// controlling terminal, without echo, when a person is there to press it: standard input and
// standard output are both that terminal and the process is in its foreground. Otherwise it
// returns at once, having read nothing (WaitForKeyPress).
void WaitForKey();

// Writes the usage screen for name and version, waits for a key as WaitForKey does (the screen
// ends with the prompt) and ends the process with status 1.
[[noreturn]] void ShowUsage(std::string name, std::string version);

}  // namespace korrin
