#pragma once

#include <string>

namespace korrin {

// The values that the options after the URL set.
struct Options {
    std::string userName;      // -u <value>
    std::string password;      // -p <value>
    std::string outputPath;    // -o <value>
    bool showHeaders = false;  // -h
};

// Folds the letters A-Z and the bytes 0xC5, 0xC4 and 0xD6 to their small forms (a-z, 0xE5, 0xE4,
// 0xF6), whatever the locale; every other byte stays. Returns the folded copy.
std::string FoldToLower(std::string text);

// Scans arguments 2 onward: "-u", "-p" and "-o" (in any letter case) take the next argument as
// their value, unchanged, whatever it looks like; "-h" sets showHeaders. The last occurrence
// wins; an option word without a following argument, and any other word, are ignored.
Options ScanOptions(int argumentCount, const char* const* arguments);

// Overwrites, in place and with zero bytes, every argument that ScanOptions takes as the value of
// a "-p", so that the password no longer shows in the process list (/proc/PID/cmdline) once the
// scan has copied it. Every other argument stays as it was.
void BlankPasswordArguments(int argumentCount, char* const* arguments);

}  // namespace korrin
