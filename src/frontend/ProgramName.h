#pragma once

#include <string>

namespace korrin {

// The program's name as the banner shows it: argument 0 without the folders in front of it, that
// is without everything up to and including its last '/' or its last backslash. The backslash
// is looked for character by character in the locale's multibyte encoding, so that a 0x5C byte
// inside a multibyte character does not count. Nothing else is removed.
std::string ProgramNameFromArgument(const char* argument0);

// name made fit to be shown on the console and sent as the agent text: every C0 control byte and
// DEL becomes a blank, and so does every C1 control written in UTF-8 (0xC2 followed by a byte from
// 0x80 to 0x9F, such as the 0xC2 0x9B that introduces a terminal's command; one blank for the
// pair). A byte from 0x80 to 0x9F without that 0xC2 stays: in a double-byte code page it is the
// second byte of a character, and a UTF-8 terminal does not act on it alone.
std::string BlankNameControls(std::string name);

}  // namespace korrin
