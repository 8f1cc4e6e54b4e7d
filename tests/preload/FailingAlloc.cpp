// Preloaded into the binary under test (LD_PRELOAD) to make memory run out on purpose: every
// malloc of at least KORRIN_TEST_FAIL_ALLOC_FROM bytes fails, as it would with no memory left, and
// smaller ones succeed. With KORRIN_TEST_FAIL_ALLOC_SIZE, every malloc of exactly that many bytes
// that the program makes (not libcurl) fails as well, which aims the shortage at one allocation of
// the program's whose size the test knows: libcurl's own blocks may have the same size (libcurl 8
// allocates its receive buffer of exactly CURLOPT_BUFFERSIZE bytes, 7.88 one byte more). The C++
// runtime's operator new draws on malloc, so such a request throws std::bad_alloc wherever the
// program makes it.

#include <dlfcn.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

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

// Whether the code at address belongs to libcurl's shared object.
bool InLibcurl(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) != 0 && info.dli_fname != nullptr &&
           std::strstr(info.dli_fname, "libcurl") != nullptr;
}

}  // namespace

extern "C" void* malloc(std::size_t size) {
    if ((failFrom != 0 && size >= failFrom) ||
        (failSize != 0 && size == failSize && !InLibcurl(__builtin_return_address(0)))) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}
