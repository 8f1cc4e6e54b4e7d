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
    {errorConnectTimeout, "The server did not accept the connection within the time allowed."},
    // Never shown: the server's own text takes its place in a report.
    {errorExtended, "The server or a proxy answered with a message of its own."},
    {errorInternal, "An internal error stopped the download."},
    {errorInvalidUrl, "The address of the file is not a valid URL."},
    {errorSchemeNotAllowed,
     "The server redirected the request to an address that is neither http nor https."},
    {errorNameNotResolved, "No address was found for the server name."},
    {errorProxyNameNotResolved, "No address was found for the proxy server's name."},
    {errorConnectionRefused,
     "The connection was refused: nothing accepts connections at that address and port."},
    {errorHostUnreachable, "There is no route from this computer to the server."},
    {errorCannotConnect, "No connection to the server could be opened."},
    {errorStalled, "The transfer stalled: no data arrived from the server for too long."},
    {errorConnectionReset, "The connection was reset before the transfer ended."},
    {errorNoResponse, "The server closed the connection without sending a response."},
    {errorBodyTruncated, "The connection closed before the whole file had arrived."},
    {errorInvalidResponse, "The server sent a response that is not valid HTTP."},
    {errorTooManyRedirects, "Gave up following redirects: the server sent too many of them."},
    {errorTlsHandshake, "A secure connection to the server could not be set up."},
    {errorCertificateUntrusted, "The server's certificate is not signed by a trusted authority."},
    {errorCertificateExpired, "The server's certificate has expired or is not yet valid."},
    {errorCertificateWrongName, "The server's certificate was issued for another name."},
    {errorProxyRefused, "The proxy server refused to pass the request on."},
    {errorSendFailed, "The request could not be sent to the server."},
    {errorReceiveFailed, "The response could not be received from the server."},
    {errorTlsSetup, "The settings for secure connections could not be loaded."},
    {errorHeaderTooLarge, "The server's response headers were too large to read."},
    {errorAuthenticationFailed,
     "The server asked for credentials in a form that could not be answered."},
    {errorHeaderIncomplete, "The connection closed before the response headers had all arrived."},
    {errorCredentialsUnsendable,
     "The user name or password holds a control character and cannot be sent as given."},
    {errorTransferFailed, "The HTTP client stopped the transfer."},
    {errorRedirectInvalidUrl,
     "The server redirected the request to an address that is not a valid URL."},
    {errorDigestMismatch, "The file that arrived does not match the checksum the server sent."},
    {errorTrustedCertificatesUnreadable, "The trusted certificates could not be loaded."},
    {errorTlsCutOff,
     "The secure connection was cut off before the server ended it: the file may be incomplete."},
    {errorInterrupted, "The download was stopped by a signal."},
};

// The length of the well-formed UTF-8 sequence of two or more bytes that starts at text[at], or
// 1 when none starts there.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 1;
    }
    if (at + length > text.size()) return 1;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 1;
    }
    return length;
}

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
    const std::string out = PrintableText(text);
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::string BlankControlBytes(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = ' ';
    }
    return text;
}

std::string PrintableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length > 1) {
            // C1 controls written in UTF-8 (U+0080 to U+009F) act on a UTF-8 terminal.
            const bool c1 = static_cast<unsigned char>(text[i]) == 0xC2 &&
                            static_cast<unsigned char>(text[i + 1]) < 0xA0;
            if (c1) {
                out.push_back(' ');
            } else {
                out.append(text.substr(i, length));
            }
            i += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        // C0 controls and DEL act on every terminal; a lone byte from 0x80 to 0x9F is a C1
        // control on a terminal that takes 8-bit controls.
        const bool control = byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0);
        out.push_back(control ? ' ' : text[i]);
        ++i;
    }
    return out;
}

}  // namespace korrin
