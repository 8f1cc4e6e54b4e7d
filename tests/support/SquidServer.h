#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/Process.h"
#include "support/ServerProcess.h"

namespace korrin::test {

// A real squid from the suite's configuration (tests/squid): a forward proxy on 127.0.0.1 and a
// free port that serves only users who authenticate with Basic (basic_ncsa_auth) as userName and
// password, and tunnels (CONNECT) only to tlsPort. Nothing is cached. Stopped when the object
// goes.
class SquidServer {
  public:
    static constexpr const char* userName = "proxyuser";
    static constexpr const char* password = "proxy secret";

    explicit SquidServer(std::uint16_t tlsPort);

    // The proxy's URL for a proxy variable, with the credentials (URL-escaped) or without.
    std::string ProxyUrl(bool withCredentials) const;
    // The access log once it holds lines lines: per request "<method> <URL> <status>
    // user=<user>".
    std::string AccessLog(std::size_t lines) const;

  private:
    TempDir folder;
    std::uint16_t port = 0;
    std::unique_ptr<ServerProcess> process;
};

}  // namespace korrin::test
