#include "webaccess/InternetException.h"

#include <cstring>
#include <string>

#include "webaccess/InternetErrors.h"
#include "webaccess/InternetLastError.h"
#include "webaccess/MessageTable.h"

namespace korrin {

void ThrowInternetFailure(std::uintptr_t context, std::uint32_t errorCode) {
    if (errorCode == 0) errorCode = GetLastInternetError();
    throw CInternetException(context, errorCode);
}

namespace {
// Copies text into buffer, cut to capacity - 1 bytes, always terminated.
void CopyCut(char* buffer, std::uint32_t capacity, const std::string& text) {
    const std::size_t n = std::min<std::size_t>(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}
}  // namespace

bool CInternetException::MessageText(char* buffer, std::uint32_t capacity,
                                     std::uint32_t* helpTopic) const {
    if (helpTopic != nullptr) *helpTopic = 0;
    if (buffer == nullptr || capacity == 0) return false;

    // The layer's own table first, then the system's.
    std::string text;
    if (!LookUpLayerMessage(errorCode, text) && !LookUpSystemMessage(errorCode, text)) {
        buffer[0] = '\0';
        return false;
    }
    // For the extended error the server's own words replace the table's.
    if (errorCode == errorExtended) text = PrintableResponseText(GetLastResponseInfo());
    CopyCut(buffer, capacity, text);
    return true;
}

}  // namespace korrin
