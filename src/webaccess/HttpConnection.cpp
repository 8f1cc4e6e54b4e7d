#include "webaccess/HttpConnection.h"

#include <utility>

#include "webaccess/HttpFile.h"

namespace korrin {

CHttpConnection::CHttpConnection(CInternetSession& session, std::string server, std::uint16_t port,
                                 std::string userName, std::string password)
    : session(session),
      server(std::move(server)),
      port(port),
      userName(std::move(userName)),
      password(std::move(password)) {}

std::unique_ptr<CHttpFile> CHttpConnection::OpenGetRequest(const std::string& verb,
                                                           const std::string& object,
                                                           const char* referrer,
                                                           const char* const* acceptTypes,
                                                           const char* version,
                                                           std::uint32_t flags) {
    return std::make_unique<CHttpFile>(*this, verb, object, referrer, acceptTypes, version, flags);
}

}  // namespace korrin
