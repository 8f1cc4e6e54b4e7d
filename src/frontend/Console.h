#pragma once

#include <string>

namespace korrin {

// Writes "\nPress any key to continue..." to standard output and waits for one key press on the
// controlling terminal (never standard input), without echo. Returns at once when there is no
// controlling terminal.
void WaitForKey();

// Writes the usage screen for name and version, waits for a key as WaitForKey does (the screen
// ends with the prompt) and ends the process with status 1.
[[noreturn]] void ShowUsage(std::string name, std::string version);

}  // namespace korrin
