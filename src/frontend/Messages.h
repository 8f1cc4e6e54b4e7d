#pragma once

// Every text that the front end prints, in one place. They are printf formats.
namespace korrin::messages {

inline constexpr const char* bannerFormat = "%s %s";
inline constexpr const char* bannerLine = "%s %s\n\n";
inline constexpr const char* usageScreen =
    "%s %s\n\nUsage: %s <url> [options]\n     Options:\n     -u <username>  (username)\n"
    "     -p <password>  (password)\n     -o <file>      (send output to file)\n"
    "     -h             (show http headers)\n\nPress any key to continue...";
inline constexpr const char* pressAnyKey = "\nPress any key to continue...";
inline constexpr const char* badUrl = "Error: bad URL: %s\n";
inline constexpr const char* downloading = "Downloading...\n";
inline constexpr const char* retrievedOk = "File retrieved ok.\n";
inline constexpr const char* retrievalFailed = "Error retrieving file: %s\n";
inline constexpr const char* statusFailed = "Error %d retrieving file: %s\n";
inline constexpr const char* fileNotFound = "File not found, please check the URL.";
inline constexpr const char* badCredentials = "Bad username or password.";

}  // namespace korrin::messages
