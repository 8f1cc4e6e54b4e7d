#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace korrin {

class CInternetSession;
class CHttpFile;

// A server, its port and the credentials to offer it. Made by CInternetSession::OpenHttpConnection
// and used only while that session exists.
class CHttpConnection {
  public:
    CHttpConnection(CInternetSession& theSession, std::string theServer, std::uint16_t thePort,
                    std::string theUserName, std::string thePassword);
    CHttpConnection(const CHttpConnection&) = delete;
    CHttpConnection& operator=(const CHttpConnection&) = delete;

    // Prepares one GET request for object (path and query), with version HTTP/1.1, no referrer
    // and no accepted types. The other arguments name what the program never sends: verb must be
    // "GET", referrer null or empty, acceptTypes null or an empty (null-terminated) list, version
    // null, empty or "HTTP/1.1"; any other value makes the request fail with errorInternal.
    // flags: INTERNET_FLAG_RELOAD, INTERNET_FLAG_SECURE. Never raises: a request that could not be
    // set up fails at CHttpFile::SubmitRequest.
    std::unique_ptr<CHttpFile> OpenGetRequest(const std::string& verb, const std::string& object,
                                              const char* referrer, const char* const* acceptTypes,
                                              const char* version, std::uint32_t flags);

    CInternetSession& Session() const { return session; }
    const std::string& Server() const { return server; }
    std::uint16_t Port() const { return port; }
    const std::string& UserName() const { return userName; }
    const std::string& Password() const { return password; }

  private:
    CInternetSession& session;
    std::string server;
    std::uint16_t port;
    std::string userName;
    std::string password;
};

}  // namespace korrin
