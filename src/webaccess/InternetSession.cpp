#include "webaccess/InternetSession.h"

#include <utility>

#include "webaccess/CurlHandles.h"
#include "webaccess/HttpConnection.h"
#include "webaccess/InternetErrors.h"
#include "webaccess/InternetException.h"
#include "webaccess/InternetLastError.h"
#include "webaccess/MessageTable.h"

namespace korrin {

namespace {
constexpr std::uintptr_t sessionContext = 1;

// A control byte (NUL, CR, LF, any other below 0x20, or DEL) would end a header line early or
// add lines of its own to the request.
bool HoldsControlByte(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return true;
    }
    return false;
}
}  // namespace

// The agent goes into a header line of every request, so its control bytes become blanks.
CInternetSession::CInternetSession(std::string theAgent, SessionSettings theSettings)
    : agent(BlankControlBytes(std::move(theAgent))), settings(std::move(theSettings)) {
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
    // Credentials are sent as they stand (Digest quotes the user name unchanged), so a control
    // byte in either is refused here, before anything goes on the network.
    if (HoldsControlByte(userName) || HoldsControlByte(password)) {
        ThrowInternetFailure(sessionContext, errorCredentialsUnsendable);
    }
    return std::make_unique<CHttpConnection>(*this, server, port, userName, password);
}

}  // namespace korrin
