#include "webaccess/HttpConnection.h"

#include <utility>

#include "webaccess/HttpFile.h"

namespace korrin {

CHttpConnection::CHttpConnection(CInternetSession& theSession, std::string theServer,
                                 std::uint16_t thePort, std::string theUserName,
                                 std::string thePassword)
    : session(theSession),
      server(std::move(theServer)),
      port(thePort),
      userName(std::move(theUserName)),
      password(std::move(thePassword)) {}

std::unique_ptr<CHttpFile> CHttpConnection::OpenGetRequest(
    const std::string& verb, const std::string& object, const char* referrer,
    const char* const* acceptTypes, const char* version, std::uint32_t flags) {
    return std::make_unique<CHttpFile>(*this, verb, object, referrer, acceptTypes, version, flags);
}

}  // namespace korrin
