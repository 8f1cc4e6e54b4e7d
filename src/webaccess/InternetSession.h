#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace korrin {

class CHttpConnection;

// Limits and trust settings of a session. The defaults are the program's; the front end names
// trusted certificates of the user's own, and tests set the rest.
struct SessionSettings {
    // Connecting to the server gives up after this long.
    std::chrono::seconds connectTimeout{60};
    // A transfer that receives nothing for this long fails.
    std::chrono::seconds stallTimeout{60};
    // CA certificates to trust instead of the system's store: a file of them, a list of folders
    // of them under hashed names (separated by ':'), or both; both empty for the system's store.
    // Either one that cannot be loaded fails every secure connection.
    std::string caFile;
    std::string caPath;
    // libcurl's receive buffer: the most that one delivery from the socket can hold.
    long receiveBufferSize = 128L * 1024;
    // A descriptor that becomes readable when the caller wants the transfer stopped (a signal
    // caught by the front end); -1 for none. Not owned.
    int interruptFd = -1;
};

// One session of the HTTP client: the user-agent text and the settings shared by the connections
// and requests made through it, which must all be destroyed before it.
class CInternetSession {
  public:
    // Raises CInternetException when the HTTP client cannot be set up. Control bytes of theAgent
    // are kept as blanks.
    explicit CInternetSession(std::string theAgent, SessionSettings theSettings = {});
    ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // Prepares a connection to server:port; nothing goes on the network until a request is
    // submitted. userName and password are the credentials offered when the server asks for
    // them; an empty userName offers none. Raises CInternetException when the server name is
    // empty, and when userName or password holds a control byte (errorCredentialsUnsendable).
    std::unique_ptr<CHttpConnection> OpenHttpConnection(const std::string& server,
                                                        std::uint32_t flags, std::uint16_t port,
                                                        const std::string& userName,
                                                        const std::string& password);

    const std::string& Agent() const { return agent; }
    const SessionSettings& Settings() const { return settings; }

  private:
    std::string agent;
    SessionSettings settings;
};

}  // namespace korrin
