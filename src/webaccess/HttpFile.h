#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "webaccess/CurlHandles.h"
#include "webaccess/DigestWorker.h"
#include "webaccess/HeaderBlock.h"

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
    // answer, no redirect it follows, no challenge it may answer), or else the last block when
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

    // Called from the TLS layer when the server ends the TLS session with close_notify.
    void NoteTlsCloseNotify() noexcept { tlsCloseNotified = true; }
    // Whether the folders of trusted certificates named in place of the system's store (if any)
    // can be read; asked for each TLS connection.
    bool TrustedFoldersReadable() const noexcept { return trustedFoldersReadable; }

  private:
    // Whether the final answer's body is framed by the end of the connection: no length, and
    // no chunked coding.
    bool BodyEndsWithConnection() const;
    static size_t OnHeader(char* data, size_t size, size_t count, void* self) noexcept;
    static size_t OnBody(char* data, size_t size, size_t count, void* self) noexcept;
    static int OnSocket(void* self, curl_socket_t socket, curlsocktype purpose) noexcept;
    static int OnRequest(void* self, char* remoteAddress, char* localAddress, int remotePort,
                         int localPort) noexcept;

    // Runs the transfer until it has ended or, with untilBody, until body bytes are waiting to be
    // read, or, without it, until the final response's header block has ended (or its body has
    // begun, which shows the same).
    void Pump(bool untilBody);
    // Whether the session's interruption descriptor says to stop (checked on every round, so
    // that a server that keeps sending cannot keep the transfer from stopping).
    bool InterruptRequested() const;
    // Moves lastHeard to now when libcurl has taken header or body bytes since the last call.
    void NoteBytesHeard();
    // How long the next wait for the socket may last: up to the stall limit's deadline.
    int PollTimeoutMs() const;
    void CollectResult();
    [[noreturn]] void RaiseTransferFailure();
    // Raises error for an answer that libcurl took but this layer does not.
    [[noreturn]] void RaiseAnswerFailure(std::uint32_t error);
    bool HasPending() const { return pendingOffset < pending.size(); }

    CHttpConnection& connection;
    // Declared so that easy is freed first, then the header list it points at, then multi.
    CurlMultiPtr multi;            // owns the transfer's multi handle
    CurlSlistPtr headerList;       // owns the request header lines that easy points at
    CurlEasyPtr easy;              // owns the request; the destructor takes it out of multi
    std::uint32_t setupError = 0;  // a failure while setting up, raised by SubmitRequest
    bool attached = false;         // easy has been added to multi

    HeaderBlock headerBlock;
    // A failure found inside a callback (an invalid header block, no memory) or by the stall
    // limit, reported in place of the code with which libcurl then ends the transfer.
    std::uint32_t callbackError = 0;
    bool bodyStarted = false;  // the final response's body has begun to arrive
    bool headerEnded = false;  // the empty line that ends a header block came last
    // A request has gone out on the current connection: a block that begins before it is a
    // proxy's answer to CONNECT, never the final answer.
    bool requestSent = false;
    bool finalHeaders = false;       // the final response's header block has ended
    bool credentialsSet = false;     // credentials are offered when the server asks for them
    bool challengeAnswered = false;  // a 401 has been answered with the credentials
    char errorDetail[CURL_ERROR_SIZE] = {};  // libcurl's own words on a failure (ERRORBUFFER)
    bool paused = false;  // OnBody paused the transfer; resume when pending is empty
    bool done = false;
    CURLcode result = CURLE_OK;

    // The stall limit: the transfer fails once the server has been silent for the session's
    // stallTimeout while a connection waits for it (from the request's connection onwards).
    bool awaitingServer = false;
    std::chrono::steady_clock::time_point lastHeard;  // the last event on the connection
    curl_off_t bytesHeard = 0;      // header and body bytes taken by libcurl so far
    int interruptFd = -1;           // the session's interruption descriptor; not owned
    bool secure = false;            // the request goes over TLS
    bool tlsCloseNotified = false;  // the current connection's server sent close_notify

    // See TrustedFoldersReadable.
    bool trustedFoldersReadable = true;

    std::vector<char> pending;  // body bytes delivered by libcurl and not yet read
    std::size_t pendingOffset = 0;
    // The checksums of the final response, computed beside the transfer over every byte of
    // pending, and so over every byte that ReadBody hands out; looked at from the first ReadBody,
    // when the header block is complete, and made only when the response carries checks.
    // Declared after pending, whose bytes it reads: it is stopped before they are freed.
    bool digestChecked = false;
    std::unique_ptr<DigestWorker> digestWorker;
    std::size_t digestSubmitted = 0;  // the bytes at the start of pending given to digestWorker
};

}  // namespace korrin
