#include "webaccess/InternetSession.h"

#include <utility>

#include "webaccess/CurlHandles.h"
#include "webaccess/HttpConnection.h"
#include "webaccess/InternetErrors.h"
#include "webaccess/InternetException.h"
#include "webaccess/InternetLastError.h"

namespace korrin {

namespace {
constexpr std::uintptr_t sessionContext = 1;
}

CInternetSession::CInternetSession(std::string agent, SessionSettings settings)
    : agent(std::move(agent)), settings(std::move(settings)) {
    const CURLcode init = CurlGlobalInit();
    if (init != CURLE_OK) {
        SetLastInternetError(init == CURLE_OUT_OF_MEMORY ? errorOutOfMemory : errorInternal);
        ThrowInternetFailure(sessionContext);
    }
}

CInternetSession::~CInternetSession() = default;

std::unique_ptr<CHttpConnection> CInternetSession::OpenHttpConnection(const std::string& server,
                                                                      std::uint32_t /*flags*/,
                                                                      std::uint16_t port,
                                                                      const std::string& userName,
                                                                      const std::string& password) {
    if (server.empty()) {
        SetLastInternetError(errorInvalidUrl);
        ThrowInternetFailure(sessionContext);
    }
    return std::make_unique<CHttpConnection>(*this, server, port, userName, password);
}

}  // namespace korrin
