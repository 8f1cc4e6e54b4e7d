#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "support/Loopback.h"

namespace korrin::test {

namespace {
// How long a script may take to read one request before the connection is dropped.
constexpr int requestReadBoundMs = 10000;

// Reads the request's header block; empty when the peer sent none in time.
std::string ReadRequest(int fd, int stopFd) {
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(fds, 2, requestReadBoundMs) <= 0 || fds[1].revents != 0) return request;
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return request;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    return request;
}
}  // namespace

bool ScriptedConnection::Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string ScriptedConnection::WaitForPeerClose(std::chrono::milliseconds bound) {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return received;
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0 || fds[1].revents != 0)
            return received;
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return received;
        received.append(buffer, static_cast<std::size_t>(n));
    }
}

void ScriptedConnection::Abort() {
    // A close with a zero linger time discards what is unsent and resets the connection.
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    aborted = true;
}

ScriptedServer::ScriptedServer(Script theScript, const std::string& theAddress,
                               std::uint16_t thePort)
    : script(std::move(theScript)), address(theAddress) {
    if (pipe(stopPipe) != 0) throw std::runtime_error("pipe failed");
    try {
        const BoundSocket bound = BindLoopback(16, address, thePort);
        listenFd = bound.fd;
        port = bound.port;
    } catch (...) {
        close(stopPipe[0]);
        close(stopPipe[1]);
        throw;
    }
    thread = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
    (void)!write(stopPipe[1], "x", 1);
    thread.join();
    close(listenFd);
    close(stopPipe[0]);
    close(stopPipe[1]);
}

void ScriptedServer::Serve() {
    while (true) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const std::string request = ReadRequest(fd, stopPipe[0]);
        {
            const std::lock_guard<std::mutex> lock(mutex);
            requests.push_back(request);
        }
        ScriptedConnection connection(fd, stopPipe[0]);
        script(request, connection);
        // Half-close first, so that the client sees the end of the data rather than a reset.
        if (!connection.Aborted()) shutdown(fd, SHUT_WR);
        close(fd);
    }
}

std::string ScriptedServer::Url(const std::string& path) const {
    return "http://" + address + ":" + std::to_string(port) + path;
}

std::vector<std::string> ScriptedServer::Requests() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return requests;
}

ScriptedServer::Script ScriptedServer::Reply(std::string bytes) {
    return [bytes = std::move(bytes)](const std::string&, ScriptedConnection& connection) {
        connection.Send(bytes);
    };
}

ScriptedServer::Script ScriptedServer::Replies(std::vector<std::string> replies) {
    auto count = std::make_shared<std::size_t>(0);
    return
        [replies = std::move(replies), count](const std::string&, ScriptedConnection& connection) {
            const std::size_t index = std::min(*count, replies.size() - 1);
            ++*count;
            connection.Send(replies[index]);
        };
}

std::string HttpReply(int status, const std::string& body, const std::string& headers) {
    std::string reply = "HTTP/1.1 " + std::to_string(status) + " Status\r\n" + headers;
    if (headers.find("Content-Length:") == std::string::npos) {
        reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    reply += "\r\n" + body;
    return reply;
}

}  // namespace korrin::test
