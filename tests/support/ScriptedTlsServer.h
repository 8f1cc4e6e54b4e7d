#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "support/TlsServer.h"

namespace korrin::test {

// A TLS server on 127.0.0.1 and an ephemeral port, with the certificate "valid" of the test CA
// (tests/data/tls), that answers each connection with a script that sees the request's header
// block, one connection after the other. A script that ends normally ends the TLS session with
// close_notify; one that calls CutOff closes the TCP connection without it.
class ScriptedTlsServer {
  public:
    using Script = std::function<void(const std::string& request, TlsConnection& connection)>;

    explicit ScriptedTlsServer(Script theScript);
    ~ScriptedTlsServer();
    ScriptedTlsServer(const ScriptedTlsServer&) = delete;
    ScriptedTlsServer& operator=(const ScriptedTlsServer&) = delete;

    std::uint16_t Port() const { return port; }

  private:
    void Serve();

    struct ContextFree {
        void operator()(SSL_CTX* context) const noexcept { SSL_CTX_free(context); }
    };

    Script script;
    std::unique_ptr<SSL_CTX, ContextFree> context;  // owns the server's TLS settings
    int listenFd = -1;
    int stopPipe[2] = {-1, -1};
    std::uint16_t port = 0;
    std::thread thread;
};

}  // namespace korrin::test
