#include "frontend/Console.h"

#include <cstdio>
#include <cstdlib>

#include "frontend/KeyWait.h"
#include "frontend/Messages.h"

namespace korrin {

void WaitForKey() {
    std::fputs(messages::pressAnyKey, stdout);
    std::fflush(stdout);
    WaitForKeyPress();
}

void ShowUsage(std::string name, std::string version) {
    std::printf(messages::usageScreen, name.c_str(), version.c_str(), name.c_str());
    std::fflush(stdout);
    WaitForKeyPress();
    std::exit(1);
}

}  // namespace korrin
