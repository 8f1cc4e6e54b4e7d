#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korrin::test {

// One accepted connection of a ScriptedServer, as its script sees it.
class ScriptedConnection {
  public:
    ScriptedConnection(int theFd, int theStopFd) : fd(theFd), stopFd(theStopFd) {}
    // Sends bytes; false when the peer has gone.
    bool Send(const std::string& bytes);
    // Waits until the peer closes the connection, the server stops, or the bound passes; returns
    // what the peer sent meanwhile.
    std::string WaitForPeerClose(std::chrono::milliseconds bound);
    // Makes the end of the script reset the connection (RST) instead of closing it in order.
    void Abort();
    bool Aborted() const { return aborted; }

  private:
    int fd;
    int stopFd;
    bool aborted = false;
};

// A TCP server on a loopback address and an ephemeral port that answers each connection with a
// script, one connection after the other, and records every request it received (the bytes up to
// and including the empty line that ends the header block).
class ScriptedServer {
  public:
    using Script = std::function<void(const std::string& request, ScriptedConnection& connection)>;

    // Listens on theAddress and thePort; port 0 picks a free one.
    explicit ScriptedServer(Script theScript, const std::string& theAddress = "127.0.0.1",
                            std::uint16_t thePort = 0);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // A server that answers every request with the same bytes and then closes.
    static Script Reply(std::string bytes);
    // A server that answers the n-th request (counted from 0) with replies[n], the last one for
    // every later request.
    static Script Replies(std::vector<std::string> replies);

    std::uint16_t Port() const { return port; }
    std::string Url(const std::string& path = "/") const;
    std::vector<std::string> Requests() const;

  private:
    void Serve();

    Script script;
    std::string address;
    int listenFd = -1;
    int stopPipe[2] = {-1, -1};
    std::uint16_t port = 0;
    mutable std::mutex mutex;
    std::vector<std::string> requests;  // guarded by mutex
    std::thread thread;
};

// Builds "HTTP/1.1 200 OK" replies: status line, headers and body, with a Content-Length that
// matches the body unless headers already carry one.
std::string HttpReply(int status, const std::string& body, const std::string& headers = "");

}  // namespace korrin::test
