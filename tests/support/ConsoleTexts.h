#pragma once

#include <string>

namespace korrin::test {

// What the program writes to the console, as the end-to-end tests expect to read it.

// The banner and the start of a download to a file.
inline const std::string consoleStart = "korrin 1.4\n\nDownloading...\n";
// The prompt of the pause after a failure.
inline const std::string pause = "\nPress any key to continue...";
// The bar at 100 %, and the closing line of a download that ended normally: the full bar and 34
// blanks.
inline const std::string fullBar = "\r100% [>>>>>>>>>>>>>>>>>>>>]";
inline const std::string closingLine = fullBar + std::string(34, ' ') + "\n";
inline const std::string retrievedOk = "File retrieved ok.\n";
inline const std::string notValid = "The server sent a response that is not valid HTTP.";

// What a test puts in an output file beforehand, to see whether a download replaced it.
inline const std::string oldContent = "bytes from an earlier download\n";

}  // namespace korrin::test
