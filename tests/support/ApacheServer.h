#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/Process.h"
#include "support/ServerProcess.h"
#include "support/ThrowAwayCa.h"

namespace korrin::test {

// A real apache2 from the suite's configuration (tests/apache2): plain http on 127.0.0.1 and
// https (mod_ssl, with a certificate of a throw-away CA) on 127.0.0.2, each on a free port;
// /basic/ behind Basic and /digest/ behind Digest authentication for userName and password;
// the suite's CGI scripts under /cgi-bin/; /to-https/ on http redirects to the same path on https,
// /to-http/ on https to http. Files put in Root() are served from both. Stopped when the object
// goes.
class ApacheServer {
  public:
    static constexpr const char* userName = "reader";
    static constexpr const char* password = "open sesame";

    ApacheServer();

    std::string Root() const { return folder.Path() + "/html"; }
    std::string HttpUrl(const std::string& path) const;
    std::string HttpsUrl(const std::string& path) const;
    std::uint16_t HttpsPort() const { return httpsPort; }
    // SSL_CERT_FILE=<the throw-away CA>, for a download's environment.
    std::string TrustVariable() const { return "SSL_CERT_FILE=" + ca->CaFile(); }
    // The access log once it holds lines lines: per request "<server name> <request line>
    // <status> user=<user> auth=<present or ->".
    std::string AccessLog(std::size_t lines) const;
    std::string ErrorLog() const;

  private:
    TempDir folder;
    std::uint16_t httpPort = 0;
    std::uint16_t httpsPort = 0;
    std::unique_ptr<ThrowAwayCa> ca;
    std::unique_ptr<ServerProcess> process;
};

}  // namespace korrin::test
