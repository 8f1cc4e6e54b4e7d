#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace korrin::test {

RefusingPort::RefusingPort() : fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("cannot bind a loopback port");
    }
    port = ntohs(address.sin_port);
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
