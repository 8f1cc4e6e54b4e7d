#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/Process.h"
#include "support/ServerProcess.h"

namespace korrin::test {

// A real lighttpd from the suite's configuration (tests/lighttpd): plain http on 127.0.0.2 and a
// free port, /digest/ behind Digest authentication (mod_auth) for userName and password. Files
// put in Root() are served. Stopped when the object goes.
class LighttpdServer {
  public:
    static constexpr const char* userName = "reader";
    static constexpr const char* password = "open sesame";

    LighttpdServer();

    std::string Root() const { return folder.Path() + "/html"; }
    std::string Url(const std::string& path) const;
    // The access log once it holds lines lines: per request "<request line> <status>
    // user=<user>".
    std::string AccessLog(std::size_t lines) const;

  private:
    TempDir folder;
    std::uint16_t port = 0;
    std::unique_ptr<ServerProcess> process;
};

}  // namespace korrin::test
