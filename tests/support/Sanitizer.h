#pragma once

// KORRIN_SANITIZED is defined when this build runs under AddressSanitizer, whose allocator and
// shadow memory rule out tests that replace malloc or run the binary under valgrind.
#if defined(__SANITIZE_ADDRESS__)
#define KORRIN_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORRIN_SANITIZED 1
#endif
#endif
