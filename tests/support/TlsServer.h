#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace korrin::test {

// One accepted TLS connection of a TlsServer, as its script sees it.
class TlsConnection {
  public:
    explicit TlsConnection(SSL* theSsl) : ssl(theSsl) {}
    // Sends bytes as application data; false when the peer has gone.
    bool Send(const std::string& bytes);
    // Makes the end of the script close the TCP connection without a TLS close_notify, as
    // someone on the path who cuts it would.
    void CutOff() { cutOff = true; }
    bool IsCutOff() const { return cutOff; }

  private:
    SSL* ssl;
    bool cutOff = false;
};

// A TLS server on 127.0.0.1 and an ephemeral port, with the certificate "valid" of the test CA
// (tests/data/tls), that reads each request's header block and answers it with a script, one
// connection after the other. A script that ends normally ends the TLS session with close_notify;
// one that calls CutOff closes the TCP connection without it. A client that goes before the
// script has sent everything never ends the test process (SIGPIPE is held back in the server's
// thread).
class TlsServer {
  public:
    using Script = std::function<void(TlsConnection& connection)>;
    // A script that also sees the request's header block.
    using RequestScript =
        std::function<void(const std::string& request, TlsConnection& connection)>;

    explicit TlsServer(Script theScript);
    explicit TlsServer(RequestScript theScript);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    std::uint16_t Port() const { return port; }

  private:
    void Serve();

    struct ContextFree {
        void operator()(SSL_CTX* context) const noexcept { SSL_CTX_free(context); }
    };

    RequestScript script;
    std::unique_ptr<SSL_CTX, ContextFree> context;  // owns the server's TLS settings
    int listenFd = -1;
    int stopPipe[2] = {-1, -1};
    std::uint16_t port = 0;
    std::thread thread;
};

}  // namespace korrin::test
