#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace korrin::test {

// A real server program (apache2, lighttpd, squid) run in the foreground as a child of the test,
// in a process group of its own, from a configuration of the suite's own. The constructor returns
// once the server accepts connections on every address and port it was given, and throws
// std::runtime_error with the server's log when it ends first or is not ready within a bound.
// The destructor stops it (SIGTERM, then waits for it to end) and ends whatever is left of its
// process group (a CGI script, an authentication helper), so that nothing outlives the fixture.
class ServerProcess {
  public:
    struct Endpoint {
        std::string address;
        std::uint16_t port = 0;
    };

    ServerProcess(std::string name, const std::vector<std::string>& arguments,
                  std::vector<Endpoint> ready, std::string logPath);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // A port on address that nothing listens on now, for a server that binds it itself.
    static std::uint16_t FreePort(const std::string& address);
    // The suite's configuration file at path (relative to the tests folder), with each @NAME@
    // replaced by its value.
    static std::string FilledTemplate(
        const std::string& path, const std::vector<std::pair<std::string, std::string>>& values);
    // The file at path once it holds at least lines lines, or as it is when bound passes: a
    // server writes a request's log line after it has answered.
    static std::string WhenLines(const std::string& path, std::size_t lines,
                                 std::chrono::milliseconds bound = std::chrono::seconds(10));

  private:
    void Stop();

    std::string name;
    std::string logPath;
    pid_t pid = -1;
};

}  // namespace korrin::test
