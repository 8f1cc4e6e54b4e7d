#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "support/Process.h"

namespace korrin::test {

// A real nginx on 127.0.0.1 and an ephemeral port, with a prefix, a configuration and a document
// root of its own, stopped when the object goes. The listening socket is made here and handed to
// nginx, so the server accepts connections from the moment the constructor returns. The
// constructor returns once nginx has loaded its configuration (it has written its pid file), and
// throws std::runtime_error, with nginx's error log, when nginx ends first or takes too long.
class NginxServer {
  public:
    struct Config {
        // Directives placed inside the server block (locations, auth_basic, return, ...).
        std::string serverDirectives;
        // With both set, the server speaks TLS with this certificate and key.
        std::string certificateFile;
        std::string keyFile;
    };

    // A configuration that serves TLS with one of the test certificates (tests/data/tls):
    // "valid", "expired", "wrongname" or "selfsigned".
    static Config TlsConfig(const std::string& certificateName);

    explicit NginxServer(const Config& config);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    std::uint16_t Port() const { return port; }
    // The document root: files put here are served at "/<name>".
    std::string Root() const { return folder.Path() + "/html"; }
    std::string Url(const std::string& path) const;
    std::string ErrorLog() const;

  private:
    // Waits, with a bound, for the pid file that nginx writes once its configuration has loaded;
    // watch is an inotify descriptor on the prefix. Returns what went wrong, or nothing.
    std::string WaitUntilStarted(int watch, const std::string& pidPath);
    // Stops nginx, if it runs, and closes the listening socket.
    void Stop();

    TempDir folder;
    bool tls = false;
    int listenFd = -1;
    std::uint16_t port = 0;
    pid_t pid = -1;
};

}  // namespace korrin::test
