#include "frontend/Console.h"

#include <cstdio>
#include <cstdlib>

#include "frontend/FormatText.h"
#include "frontend/KeyWait.h"
#include "frontend/Messages.h"

namespace korrin {

void WaitForKey() {
    std::fflush(stdout);
    WaitForKeyPress(messages::pressAnyKey);
}

// Both texts are taken by value: the caller's are never touched, whatever this does with them.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void ShowUsage(std::string name, std::string version) {
    const std::string screen =
        FormatText(messages::usageScreen, name.c_str(), version.c_str(), name.c_str());
    // The screen ends with the prompt: it goes out once the terminal waits for the key.
    WaitForKeyPress(screen);
    std::exit(1);
}

}  // namespace korrin
