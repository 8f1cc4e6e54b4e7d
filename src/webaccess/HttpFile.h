#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "webaccess/ChallengeRounds.h"
#include "webaccess/CurlHandles.h"
#include "webaccess/CurlReading.h"
#include "webaccess/DigestWorker.h"
#include "webaccess/HeaderBlock.h"
#include "webaccess/StallLimit.h"

namespace korrin {

class CHttpConnection;

// One request and its response, driven on the caller's thread with libcurl's multi interface.
// libcurl pushes the body through a callback; this class turns that into pulls (ReadBody) through
// a pending buffer with room for two deliveries from the socket: when a delivery does not fit
// behind the unread bytes the transfer is paused, so memory does not grow with the size of the
// body.
class CHttpFile {
  public:
    // See CHttpConnection::OpenGetRequest. A setup failure is kept and raised by SubmitRequest.
    CHttpFile(CHttpConnection& theConnection, const std::string& verb, const std::string& object,
              const char* referrer, const char* const* acceptTypes, const char* version,
              std::uint32_t flags);
    ~CHttpFile();
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    // Sends the request and returns as soon as the header block of the final response has ended:
    // the first block that libcurl will not follow up with another request (no 1xx interim
    // answer, no redirect it follows, no challenge it answers), or else the last block when
    // the transfer has ended. The body stays unread, whether or not any of it has arrived. The
    // program sends no extra header line and no request body: headers and body must each be null
    // or of length 0, else the request fails with errorInternal. Raises CInternetException when
    // no complete header block arrives (including a block cut off before its empty line), and
    // when the block carries no status or not the one libcurl read; an HTTP error status is no
    // failure.
    void SubmitRequest(const char* headers, std::uint32_t headersLength, const void* body,
                       std::uint32_t bodyLength);

    // Writes the final response's status code; false, leaving status alone, when there is none,
    // which after SubmitRequest has returned is never the case.
    bool QueryStatusCode(std::uint32_t& status) const;

    // Replaces text with the answer for level: for HTTP_QUERY_RAW_HEADERS_CRLF the final block's
    // raw text, for HTTP_QUERY_CONTENT_LENGTH the decimal digits of its checked Content-Length (a
    // number from 0 to 2^63 - 1). index picks among headers of one name and may be null. Returns
    // false, with text empty, when there is no answer. Never raises.
    bool QueryHeaderText(std::uint32_t level, std::string& text, std::uint32_t* index) const;

    // Places up to count bytes of the body in buffer and returns how many; 0 once the body is
    // complete. Raises CInternetException when the transfer fails, after every byte that did
    // arrive has been returned: a body shorter than its Content-Length raises at its end, and so
    // does a 200 body that does not match a SHA-256 or SHA-512 checksum sent in its headers.
    std::uint32_t ReadBody(void* buffer, std::uint32_t count);

    // Called from the TLS layer: libcurl has made the TLS settings (tlsContext) of the connection
    // it is opening, and the server of the connection that uses tlsContext has ended its TLS
    // session with close_notify. A close_notify of an earlier connection does not count.
    void NoteTlsConnection(const void* tlsContext) noexcept {
        connectionState.tlsContext = tlsContext;
    }
    void NoteTlsCloseNotify(const void* tlsContext) noexcept {
        if (tlsContext != nullptr && tlsContext == connectionState.tlsContext)
            connectionState.closeNotified = true;
    }
    // Whether the folders of trusted certificates named in place of the system's store (if any)
    // can be read; asked for each TLS connection.
    bool TrustedFoldersReadable() const noexcept { return trustedFoldersReadable; }

  private:
    // How far the transfer has come.
    enum class Phase {
        awaitingFinalHeaders,  // no block has been taken as the final answer yet
        body,                  // the final answer's header block has ended (or its body begun)
        done,                  // libcurl has ended the transfer, or the layer has stopped it
    };

    // Where a request goes, as libcurl compares two requests before it lets the credentials
    // follow a redirect: the URL's scheme and port (the scheme's own port when the URL names none).
    struct RequestTarget {
        bool https = false;
        long port = 0;
        bool operator==(const RequestTarget&) const = default;
    };

    // What lives for the whole transfer; set up by the constructor.
    struct TransferState {
        Phase phase = Phase::awaitingFinalHeaders;
        CURLcode result = CURLE_OK;  // libcurl's result, once the phase is done
        // A failure found inside a callback (an invalid answer, no memory) or by the stall limit,
        // reported in place of the code with which libcurl then ends the transfer.
        std::uint32_t callbackError = 0;
        bool paused = false;        // OnBody paused the transfer; resume when pending is empty
        int redirects = 0;          // redirects that libcurl has followed
        curl_off_t bytesHeard = 0;  // header and body bytes taken by libcurl so far
        std::optional<RequestTarget> lastTarget;  // where the last request went
        // SubmitRequest has returned with the block taken as final: from then on nothing about
        // that block may change. Before, a follow-up that libcurl makes after all undoes the
        // layer's guess.
        bool handedOver = false;
    };

    // What lives for one connection; reset when libcurl opens the socket of a new one.
    struct ConnectionState {
        const void* tlsContext = nullptr;  // the connection's TLS settings; null without TLS
        bool closeNotified = false;        // its server ended the TLS session with close_notify
        // A request has gone out on it: a block that begins before one is a proxy's answer to
        // CONNECT, never the final answer.
        bool requestSent = false;
        bool tunnelAnswered = false;  // a proxy's answer to CONNECT has ended on it
        bool established = false;     // it has been made: a request went out, or the server spoke
    };

    // What lives for one response; reset when a request goes out (or a connection is made). The
    // header block itself starts anew at the next status line (HeaderBlock::ExpectNewBlock).
    struct ResponseState {
        bool final = false;  // the block has been taken as the final answer
        // The length that frames the final answer's body as libcurl reads it
        // (CURLINFO_CONTENT_LENGTH_DOWNLOAD_T when the block ended); -1 when the body has none
        // of its own (chunked coding, or the connection's end).
        curl_off_t framingLength = -1;
        // The final answer is a proxy's refusal of CONNECT: its status is
        // CURLINFO_HTTP_CONNECTCODE, and no body of it is read.
        bool refusedTunnel = false;
    };

    // Whether the final answer's body is framed by the end of the connection: no length, and
    // no chunked coding.
    bool BodyEndsWithConnection() const;
    // Whether libcurl ended the transfer on a proxy's refusal of CONNECT (a status of 300 or
    // more) whose header block has arrived whole.
    bool ProxyRefusedTunnel() const;
    // Whether the final answer came over TLS: the connection had TLS settings, or libcurl
    // reports https as the final URL's scheme.
    bool FinalAnswerOverTls() const;
    static size_t OnHeader(char* data, size_t size, size_t count, void* self) noexcept;
    static size_t OnBody(char* data, size_t size, size_t count, void* self) noexcept;
    static int OnSocket(void* self, curl_socket_t socket, curlsocktype purpose) noexcept;
    static int OnRequest(void* self, char* remoteAddress, char* localAddress, int remotePort,
                         int localPort) noexcept;
    // Whether libcurl may open a connection or send a request now (see TransferState::handedOver);
    // false sets the failure.
    bool FollowUpAllowed() noexcept;
    // Where the request that libcurl is about to send goes; nothing when its URL cannot be read.
    std::optional<RequestTarget> CurrentTarget() const noexcept;
    // The work of OnHeader, which may throw (std::bad_alloc); false ends the transfer with
    // transferState.callbackError.
    bool TakeHeaderLine(std::string_view line);
    // Takes the block that has just ended as the final answer; false when its body cannot be
    // stored as libcurl frames it (a 200 whose Content-Length cannot be read for certain).
    bool TakeFinalBlock();

    // Runs the transfer until it has ended or, with untilBody, until body bytes are waiting to be
    // read, or, without it, until the final response's header block has ended (or its body has
    // begun, which shows the same).
    void Pump(bool untilBody);
    // Whether the session's interruption descriptor says to stop (checked on every round, so
    // that a server that keeps sending cannot keep the transfer from stopping).
    bool InterruptRequested() const;
    // Restarts the stall limit's silence when libcurl has taken header or body bytes since the
    // last call.
    void NoteBytesHeard(StallLimit::Clock::time_point now);
    void CollectResult();
    // Raises the failure with which libcurl (or a callback, or the stall limit) ended the
    // transfer.
    [[noreturn]] void RaiseTransferFailure();
    // The one way this class raises: a failure object for error with the given texts.
    [[noreturn]] static void Raise(std::uint32_t error, std::string responseText = {},
                                   std::string curlWords = {});
    bool HasPending() const { return pendingOffset < pending.size(); }

    CHttpConnection& connection;
    // Declared so that easy is freed first, then the header list it points at, then multi.
    CurlMultiPtr multi;            // owns the transfer's multi handle
    CurlSlistPtr headerList;       // owns the request header lines that easy points at
    CurlEasyPtr easy;              // owns the request; the destructor takes it out of multi
    std::uint32_t setupError = 0;  // a failure while setting up, raised by SubmitRequest
    bool attached = false;         // easy has been added to multi
    int interruptFd = -1;          // the session's interruption descriptor; not owned
    char errorDetail[CURL_ERROR_SIZE] = {};  // libcurl's own words on a failure (ERRORBUFFER)

    TransferState transferState;
    ConnectionState connectionState;
    ResponseState responseState;
    // The response blocks as they arrive; after the final block has ended, that block.
    HeaderBlock headerBlock;
    // The challenge rounds of the transfer with the server.
    ChallengeRounds serverRounds;
    // How the libcurl in use reads the headers it acts on.
    CurlReading reading;
    // The stall limit: the transfer fails once the server has been silent for the session's
    // stallTimeout while a request waits for it.
    StallLimit stallLimit;

    // See TrustedFoldersReadable.
    bool trustedFoldersReadable = true;

    std::vector<char> pending;  // body bytes delivered by libcurl and not yet read
    std::size_t pendingOffset = 0;
    // The checksums of the final response, computed beside the transfer over a copy of every
    // byte of pending, and so over every byte that ReadBody hands out; looked at from the first
    // ReadBody, when the header block is complete, and made only when the response carries
    // checks.
    bool digestChecked = false;
    std::unique_ptr<DigestWorker> digestWorker;
    std::size_t digestSubmitted = 0;  // the bytes at the start of pending given to digestWorker
};

}  // namespace korrin
