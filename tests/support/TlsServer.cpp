#include "support/TlsServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "support/Loopback.h"

namespace korrin::test {

namespace {
const std::string certificates = KORRIN_TEST_DATA "/tls/";

struct SslFree {
    void operator()(SSL* ssl) const noexcept { SSL_free(ssl); }
};
}  // namespace

bool TlsConnection::Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        std::size_t n = 0;
        if (SSL_write_ex(ssl, bytes.data() + sent, bytes.size() - sent, &n) != 1) return false;
        sent += n;
    }
    return true;
}

TlsServer::TlsServer(Script theScript)
    : TlsServer(RequestScript(
          [answer = std::move(theScript)](const std::string&, TlsConnection& connection) {
              answer(connection);
          })) {}

TlsServer::TlsServer(RequestScript theScript)
    : script(std::move(theScript)), context(SSL_CTX_new(TLS_server_method())) {
    if (!context ||
        SSL_CTX_use_certificate_chain_file(context.get(), (certificates + "valid.pem").c_str()) !=
            1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), (certificates + "valid.key").c_str(),
                                    SSL_FILETYPE_PEM) != 1) {
        throw std::runtime_error("cannot set up the TLS server's context");
    }
    if (pipe(stopPipe) != 0) throw std::runtime_error("pipe failed");
    const BoundSocket bound = BindLoopback(16);
    listenFd = bound.fd;
    port = bound.port;
    thread = std::thread([this] { Serve(); });
}

TlsServer::~TlsServer() {
    (void)!write(stopPipe[1], "x", 1);
    thread.join();
    close(listenFd);
    close(stopPipe[0]);
    close(stopPipe[1]);
}

void TlsServer::Serve() {
    // OpenSSL writes to the socket without MSG_NOSIGNAL: with SIGPIPE held back in this thread
    // alone, a write to a client that has gone fails instead of ending the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    while (true) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || fds[1].revents != 0) return;
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // Blocking reads, bounded so that a client that never speaks cannot hold the server.
        const timeval readBound{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &readBound, sizeof readBound);
        const std::unique_ptr<SSL, SslFree> ssl(SSL_new(context.get()));
        if (ssl && SSL_set_fd(ssl.get(), fd) == 1 && SSL_accept(ssl.get()) == 1) {
            std::string request;
            char buffer[4096];
            std::size_t n = 0;
            while (request.find("\r\n\r\n") == std::string::npos &&
                   SSL_read_ex(ssl.get(), buffer, sizeof buffer, &n) == 1) {
                request.append(buffer, n);
            }
            TlsConnection connection(ssl.get());
            script(request, connection);
            if (!connection.IsCutOff()) SSL_shutdown(ssl.get());
        }
        // Half-close first, so that the client sees the end of the data rather than a reset.
        shutdown(fd, SHUT_WR);
        close(fd);
    }
}

}  // namespace korrin::test
