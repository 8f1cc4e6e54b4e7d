// Preloaded into the binary under test (LD_PRELOAD) to make memory run out on purpose: every
// malloc of at least KORRIN_TEST_FAIL_ALLOC_FROM bytes fails, as it would with no memory left, and
// smaller ones succeed; every malloc of exactly KORRIN_TEST_FAIL_ALLOC_SIZE bytes fails as well, to
// take one allocation of a known size away. The C++ runtime's operator new draws on malloc, so
// such a request throws std::bad_alloc wherever the program makes it.

#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" void* __libc_malloc(std::size_t size);  // glibc's own allocator

namespace {

std::size_t failFrom = 0;  // 0: nothing fails
std::size_t failSize = 0;  // 0: no size fails on its own

__attribute__((constructor)) void ReadLimit() {
    const char* text = std::getenv("KORRIN_TEST_FAIL_ALLOC_FROM");
    if (text != nullptr) failFrom = std::strtoull(text, nullptr, 10);
    const char* size = std::getenv("KORRIN_TEST_FAIL_ALLOC_SIZE");
    if (size != nullptr) failSize = std::strtoull(size, nullptr, 10);
}

}  // namespace

extern "C" void* malloc(std::size_t size) {
    if ((failFrom != 0 && size >= failFrom) || (failSize != 0 && size == failSize)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}
