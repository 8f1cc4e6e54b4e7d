#include "webaccess/InternetException.h"

#include <cstring>
#include <string>
#include <utility>

#include "webaccess/InternetErrors.h"
#include "webaccess/InternetLastError.h"
#include "webaccess/MessageTable.h"

namespace korrin {

void ThrowInternetFailure(std::uintptr_t context, std::uint32_t errorCode, std::string responseText,
                          std::string curlWords) {
    if (errorCode == 0) {
        errorCode = GetLastInternetError();
        responseText = GetLastResponseInfo();
    } else {
        SetLastInternetError(errorCode);
        SetLastResponseInfo(responseText);
    }
    throw CInternetException(context, errorCode, std::move(responseText), std::move(curlWords));
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
    if (errorCode == errorExtended) {
        // The server's own words replace the table's.
        text = PrintableResponseText(responseText);
    } else if (errorCode == errorTransferFailed) {
        // The table says only that libcurl stopped the transfer; libcurl's words say why.
        const std::string words = PrintableResponseText(curlWords);
        if (!words.empty()) text += " libcurl says: " + words;
    }
    CopyCut(buffer, capacity, text);
    return true;
}

}  // namespace korrin
