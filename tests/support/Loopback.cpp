#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace korrin::test {

BoundSocket BindLoopback(int backlog, const std::string& address, std::uint16_t port,
                         bool inheritable) {
    BoundSocket bound;
    bound.fd = socket(AF_INET, SOCK_STREAM | (inheritable ? 0 : SOCK_CLOEXEC), 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    socklen_t length = sizeof where;
    if (bound.fd < 0 || inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1 ||
        bind(bound.fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        (backlog >= 0 && listen(bound.fd, backlog) != 0) ||
        getsockname(bound.fd, reinterpret_cast<sockaddr*>(&where), &length) != 0) {
        const int error = errno;
        if (bound.fd >= 0) close(bound.fd);
        throw std::runtime_error("cannot bind " + address + ":" + std::to_string(port) + ": " +
                                 std::strerror(error));
    }
    bound.port = ntohs(where.sin_port);
    return bound;
}

RefusingPort::RefusingPort() {
    const BoundSocket bound = BindLoopback(-1);
    fd = bound.fd;
    port = bound.port;
}

RefusingPort::~RefusingPort() { close(fd); }

std::string RefusingPort::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

DownloadJob LoopbackJob(std::uint16_t port, const std::string& object,
                        const std::string& outputPath, std::string& errorText) {
    DownloadJob job;
    job.server = "127.0.0.1";
    job.port = port;
    job.object = object;
    job.outputPath = outputPath;
    job.errorText = &errorText;
    job.agent = "korrin 1.4";
    return job;
}

}  // namespace korrin::test
