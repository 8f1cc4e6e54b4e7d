#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace korrin {

// The failure object of the web access layer. Everything its report needs travels in it from
// the moment it is raised, and nothing changes it afterwards: MessageText depends on the object
// alone, never on what the layer records later.
class CInternetException {
  public:
    CInternetException(std::uintptr_t theContext, std::uint32_t theErrorCode,
                       std::string theResponseText = {}, std::string theCurlWords = {})
        : context(theContext),
          errorCode(theErrorCode),
          responseText(std::move(theResponseText)),
          curlWords(std::move(theCurlWords)) {}

    // Leaves a zero-terminated text of at most capacity - 1 bytes in buffer (empty when no table
    // knows errorCode) and returns whether a text was found. capacity counts the terminating zero
    // and must be at least 1. helpTopic, when given, receives 0. The text is the table's; for
    // errorExtended it is responseText instead, and for errorTransferFailed the table's text is
    // followed by curlWords. Control characters of both are shown as blanks.
    bool MessageText(char* buffer, std::uint32_t capacity,
                     std::uint32_t* helpTopic = nullptr) const;

    // Context value of the object whose operation failed; the system gives every object 1.
    const std::uintptr_t context;
    // The layer's error number (12000-12999) or an errno value.
    const std::uint32_t errorCode;
    // What the server or a proxy sent with the failure (the status line of a refusal), as sent;
    // the report of errorExtended. Empty when there is none.
    const std::string responseText;
    // libcurl's own words on the failure (its error buffer, else its text for the code); empty
    // when the failure did not come from libcurl.
    const std::string curlWords;
};

// The only way a CInternetException comes into being. An errorCode of 0 stands for the layer's
// last error and last response text (GetLastInternetError, GetLastResponseInfo), read before
// anything else can change them; otherwise the object carries the arguments, and the layer's last
// error and last response text are set to them, so that its queries agree with the failure.
[[noreturn]] void ThrowInternetFailure(std::uintptr_t context, std::uint32_t errorCode = 0,
                                       std::string responseText = {}, std::string curlWords = {});

}  // namespace korrin
