#pragma once

#include <string>

namespace korrin {

// The program's name as the banner shows it: argument 0 without the folders in front of it, that
// is without everything up to and including its last '/' or its last backslash. The backslash
// is looked for character by character in the locale's multibyte encoding, so that a 0x5C byte
// inside a multibyte character does not count. Nothing else is removed.
std::string ProgramNameFromArgument(const char* argument0);

}  // namespace korrin
