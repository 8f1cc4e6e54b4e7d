#pragma once

#include <cstdint>
#include <string>

#include "transfer/DownloadJob.h"

namespace korrin::test {

// A TCP socket bound on IPv4 and the port it got.
struct BoundSocket {
    int fd = -1;             // owned by the caller
    std::uint16_t port = 0;  // the port bound, as the system reports it
};

// Binds a TCP socket to address:port (port 0: an ephemeral port) and reads back the port; with a
// backlog of 0 or more the socket also listens. The descriptor is close-on-exec unless
// inheritable, for a server that runs as a child process. Throws std::runtime_error when a step
// fails, with nothing left open.
BoundSocket BindLoopback(int backlog, const std::string& address = "127.0.0.1",
                         std::uint16_t port = 0, bool inheritable = false);

// A port on 127.0.0.1 that refuses connections for as long as the object lives: bound, so that
// nothing else takes it, but not listening.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    std::uint16_t Port() const { return port; }
    std::string Url(const std::string& path = "/f") const;

  private:
    int fd = -1;
    std::uint16_t port = 0;
};

// A job for object on 127.0.0.1:port, written to outputPath (empty: standard output), with its
// error text in errorText and the program's agent text.
DownloadJob LoopbackJob(std::uint16_t port, const std::string& object,
                        const std::string& outputPath, std::string& errorText);

}  // namespace korrin::test
