// Preloaded into the binary under test (LD_PRELOAD) to make memory run out on purpose: every
// malloc of at least KORRIN_TEST_FAIL_ALLOC_FROM bytes fails, as it would with no memory left, and
// smaller ones succeed. With KORRIN_TEST_FAIL_ALLOC_SIZE, every malloc of exactly that many bytes
// fails as well, which aims the shortage at one allocation whose size the test knows. The C++
// runtime's operator new draws on malloc, so such a request throws std::bad_alloc wherever the
// program makes it.

#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" void* __libc_malloc(std::size_t size);  // glibc's own allocator

namespace {

std::size_t failFrom = 0;  // 0: nothing fails by size from here up
std::size_t failSize = 0;  // 0: nothing fails by its exact size

__attribute__((constructor)) void ReadLimit() {
    const char* text = std::getenv("KORRIN_TEST_FAIL_ALLOC_FROM");
    if (text != nullptr) failFrom = std::strtoull(text, nullptr, 10);
    text = std::getenv("KORRIN_TEST_FAIL_ALLOC_SIZE");
    if (text != nullptr) failSize = std::strtoull(text, nullptr, 10);
}

}  // namespace

extern "C" void* malloc(std::size_t size) {
    if ((failFrom != 0 && size >= failFrom) || (failSize != 0 && size == failSize)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}
