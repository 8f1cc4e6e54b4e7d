#include "webaccess/MessageTable.h"

#include <cerrno>
#include <cstring>
#include <iterator>

#include "webaccess/InternetErrors.h"

namespace korrin {

namespace {

struct MessageEntry {
    std::uint32_t errorCode;
    const char* text;
};

// One line per error number; no text carries a line end of its own.
constexpr MessageEntry layerMessages[] = {
    {errorOutOfMemory, "There was not enough memory to complete the download."},
    {errorConnectTimeout, "The server did not accept a connection in time."},
    {errorExtended, "The server refused the request with a message of its own."},
    {errorInternal, "An internal error stopped the download."},
    {errorInvalidUrl, "The address of the file is not a valid URL."},
    {errorSchemeNotAllowed, "The server redirected the request to an address that is neither http nor https."},
    {errorNameNotResolved, "The server name could not be found."},
    {errorProxyNameNotResolved, "The proxy server name could not be found."},
    {errorConnectionRefused, "The server refused the connection."},
    {errorHostUnreachable, "The server cannot be reached from this network."},
    {errorCannotConnect, "A connection to the server could not be made."},
    {errorStalled, "The server stopped sending data."},
    {errorConnectionReset, "The connection to the server was reset."},
    {errorNoResponse, "The server closed the connection without sending a response."},
    {errorBodyTruncated, "The connection closed before the whole file had arrived."},
    {errorInvalidResponse, "The server sent a response that is not valid HTTP."},
    {errorTooManyRedirects, "The server redirected the request too many times."},
    {errorTlsHandshake, "A secure connection to the server could not be set up."},
    {errorCertificateUntrusted, "The server's certificate is not signed by a trusted authority."},
    {errorCertificateExpired, "The server's certificate has expired or is not yet valid."},
    {errorCertificateWrongName, "The server's certificate was issued for another name."},
    {errorProxyRefused, "The proxy server refused the request."},
    {errorSendFailed, "The request could not be sent to the server."},
    {errorReceiveFailed, "The response could not be received from the server."},
    {errorTlsSetup, "The certificates needed for a secure connection could not be loaded."},
};

}  // namespace

bool LookUpLayerMessage(std::uint32_t errorCode, std::string& text) {
    for (const MessageEntry& entry : layerMessages) {
        if (entry.errorCode == errorCode) {
            text = entry.text;
            return true;
        }
    }
    return false;
}

bool LookUpSystemMessage(std::uint32_t errorCode, std::string& text) {
    // The layer's range is its own; errno values are small positive numbers.
    if (errorCode == 0 || errorCode >= errorInternetFirst) return false;
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in buffer; an unknown number
    // gives "Unknown error N".
    const char* found = strerror_r(static_cast<int>(errorCode), buffer, sizeof buffer);
    if (found == nullptr || std::strncmp(found, "Unknown error", 13) == 0) return false;
    text = found;
    return true;
}

std::string PrintableResponseText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(byte < 0x20 || byte == 0x7F ? ' ' : c);
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

}  // namespace korrin
