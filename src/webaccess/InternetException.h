#pragma once

#include <cstdint>

namespace korrin {

// The failure object of the web access layer. It is complete when thrown and never changes.
class CInternetException {
public:
    CInternetException(std::uintptr_t context, std::uint32_t errorCode) noexcept
        : context(context), errorCode(errorCode) {}

    // Leaves a zero-terminated text of at most capacity - 1 bytes in buffer (empty when no table
    // knows errorCode) and returns whether a text was found. capacity counts the terminating zero
    // and must be at least 1. helpTopic, when given, receives 0.
    bool MessageText(char* buffer, std::uint32_t capacity, std::uint32_t* helpTopic = nullptr) const;

    // Context value of the object whose operation failed; the system gives every object 1.
    const std::uintptr_t context;
    // The layer's error number (12000-12999) or an errno value.
    const std::uint32_t errorCode;
};

// The only way a CInternetException comes into being. An errorCode of 0 stands for the layer's
// last error (GetLastInternetError), read before anything else can change it.
[[noreturn]] void ThrowInternetFailure(std::uintptr_t context, std::uint32_t errorCode = 0);

}  // namespace korrin
