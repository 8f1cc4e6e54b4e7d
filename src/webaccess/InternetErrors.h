#pragma once

#include <cstdint>

namespace korrin {

// The web access layer's own error numbers. They live in a range of their own (12000 to 12999),
// which no errno value reaches, so one number space holds both the layer's failures and the
// system's.
enum InternetError : std::uint32_t {
    errorInternetFirst = 12000,
    errorOutOfMemory = 12001,
    errorConnectTimeout = 12002,
    // The server (or a proxy) answered with a text of its own: the report shows that text.
    errorExtended = 12003,
    errorInternal = 12004,
    errorInvalidUrl = 12005,
    errorSchemeNotAllowed = 12006,
    errorNameNotResolved = 12007,
    errorProxyNameNotResolved = 12008,
    errorConnectionRefused = 12009,
    errorHostUnreachable = 12010,
    errorCannotConnect = 12011,
    errorStalled = 12012,
    errorConnectionReset = 12013,
    errorNoResponse = 12014,
    errorBodyTruncated = 12015,
    errorInvalidResponse = 12016,
    errorTooManyRedirects = 12017,
    errorTlsHandshake = 12018,
    errorCertificateUntrusted = 12019,
    errorCertificateExpired = 12020,
    errorCertificateWrongName = 12021,
    errorProxyRefused = 12022,
    errorSendFailed = 12023,
    errorReceiveFailed = 12024,
    errorTlsSetup = 12025,
    errorHeaderTooLarge = 12026,
    errorAuthenticationFailed = 12027,
    // The connection ended inside the response's header block, before its empty line.
    errorHeaderIncomplete = 12028,
    // A user name or password holds a control byte, which no header line may carry.
    errorCredentialsUnsendable = 12032,
    // libcurl ended the transfer with a code that has no text of its own here: the report adds
    // libcurl's own words to the table's text.
    errorTransferFailed = 12033,
    // A redirect's Location is no valid URL (the user's URL was fine).
    errorRedirectInvalidUrl = 12034,
    // The body arrived whole but does not match a checksum that its server sent with it.
    errorDigestMismatch = 12036,
    // The trusted certificates (the system's store, or the file or folders named in its place)
    // could not be loaded.
    errorTrustedCertificatesUnreadable = 12037,
    errorTlsCutOff = 12030,
    errorInterrupted = 12031,
};

}  // namespace korrin
