// Keeps the response fuzzer on loopback whatever the fuzzed answers say: a redirect may name any
// host or address, so name look-ups are refused except for numeric and "localhost" names, and
// connections are refused except to 127.0.0.0/8 and ::1. These definitions take the place of the
// C library's for libcurl, which is linked dynamically.

#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace {

bool IsLoopback(const sockaddr* address) {
    if (address == nullptr) return false;
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        return IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
    }
    // Local sockets (the resolver's helpers, for instance) stay on the machine.
    return address->sa_family == AF_UNIX;
}

bool IsAllowedName(const char* name) {
    if (name == nullptr) return true;
    if (std::strcmp(name, "localhost") == 0) return true;
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, name, &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    if (inet_pton(AF_INET6, name, &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);

}  // namespace

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
    if (!IsLoopback(address)) {
        errno = ECONNREFUSED;
        return -1;
    }
    return static_cast<int>(syscall(SYS_connect, fd, address, length));
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    if (!IsAllowedName(node)) return EAI_NONAME;
    static const auto real = reinterpret_cast<GetAddrInfo>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (real == nullptr) return EAI_FAIL;
    return real(node, service, hints, result);
}
