#include "webaccess/HttpFile.h"

#include <openssl/ssl.h>
#include <poll.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "webaccess/ContentDigest.h"
#include "webaccess/CurlErrorMap.h"
#include "webaccess/CurlHandles.h"
#include "webaccess/HeldSignals.h"
#include "webaccess/HttpConnection.h"
#include "webaccess/InternetErrors.h"
#include "webaccess/InternetException.h"
#include "webaccess/InternetFlags.h"
#include "webaccess/InternetSession.h"
#include "webaccess/NextStep.h"
#include "webaccess/TrustedCertificates.h"

namespace korrin {

namespace {

constexpr std::uintptr_t requestContext = 1;
// Redirects followed at most; the next one fails the download.
constexpr int maxRedirects = 10;
// libcurl counts every further request of a transfer as a redirect, an answered challenge too:
// its own limit leaves room for the layer's, which count each kind apart.
constexpr long curlMaxFollows = maxRedirects + 2L * ChallengeRounds::maxAnsweredRounds;
// How long one wait for the socket may last before the transfer's own timers are looked at.
constexpr int pollTimeoutMs = 1000;

// The arguments that name what the program never sends: a verb other than GET, a referrer,
// accepted types and a version other than HTTP/1.1. Each must be absent (null or empty).
bool RequestArgumentsUnused(const std::string& verb, const char* referrer,
                            const char* const* acceptTypes, const char* version) {
    return verb == "GET" && (referrer == nullptr || *referrer == '\0') &&
           (acceptTypes == nullptr || *acceptTypes == nullptr) &&
           (version == nullptr || *version == '\0' || std::string_view(version) == "HTTP/1.1");
}

// The slot of an OpenSSL context that names the CHttpFile whose connection it serves.
int TlsContextSlot() {
    static const int slot = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return slot;
}

// Notes a close_notify alert from the server: the TLS session was ended by the server itself.
void OnTlsInfo(const SSL* ssl, int where, int alert) noexcept {
    if ((where & SSL_CB_READ_ALERT) != SSL_CB_READ_ALERT || (alert & 0xFF) != SSL3_AD_CLOSE_NOTIFY)
        return;
    SSL_CTX* tls = SSL_get_SSL_CTX(ssl);
    auto* file = static_cast<CHttpFile*>(SSL_CTX_get_ex_data(tls, TlsContextSlot()));
    if (file != nullptr) file->NoteTlsCloseNotify(tls);
}

// libcurl 7.88 with OpenSSL 3 takes a TLS connection that closes without close_notify as the
// proper end of a body framed by the connection's end, however short someone on the path cut it
// (it does not set SSL_OP_IGNORE_UNEXPECTED_EOF, but treats the error as an end all the same).
// The layer therefore watches for the server's close_notify itself, on every TLS connection that
// libcurl makes (libcurl makes new TLS settings for each one).
// It is also where folders of trusted certificates are found unreadable, for every TLS connection,
// a redirect's to https included.
CURLcode OnTlsContext(CURL* /*easy*/, void* context, void* self) noexcept {
    if (!static_cast<CHttpFile*>(self)->TrustedFoldersReadable()) return CURLE_SSL_CACERT_BADFILE;
    auto* tls = static_cast<SSL_CTX*>(context);
    if (TlsContextSlot() < 0 || SSL_CTX_set_ex_data(tls, TlsContextSlot(), self) != 1)
        return CURLE_OUT_OF_MEMORY;
    SSL_CTX_set_info_callback(tls, OnTlsInfo);
    static_cast<CHttpFile*>(self)->NoteTlsConnection(tls);
    return CURLE_OK;
}

// Whether libcurl's name for a scheme (CURLINFO_SCHEME, in capitals in libcurl 7.88) is https.
bool IsHttps(const char* scheme) { return scheme != nullptr && strcasecmp(scheme, "https") == 0; }

}  // namespace

CHttpFile::CHttpFile(CHttpConnection& theConnection, const std::string& verb,
                     const std::string& object, const char* referrer,
                     const char* const* acceptTypes, const char* version, std::uint32_t flags)
    : connection(theConnection),
      multi(curl_multi_init()),
      easy(curl_easy_init()),
      // An empty user name offers nothing, whatever the password; a user name with an empty
      // password is offered with the password as an empty text.
      serverRounds(!theConnection.UserName().empty()),
      reading(CurlReading::InUse()),
      stallLimit(theConnection.Session().Settings().stallTimeout) {
    if (!RequestArgumentsUnused(verb, referrer, acceptTypes, version)) {
        setupError = errorInternal;
        return;
    }
    // An empty Accept line removes the one that libcurl would otherwise add of its own.
    headerList.reset(curl_slist_append(nullptr, "Accept:"));
    if (!multi || !easy || !headerList) {
        setupError = errorOutOfMemory;
        return;
    }
    const CInternetSession& session = connection.Session();
    const SessionSettings& settings = session.Settings();
    // Room for two deliveries, so that one arriving while the last is still being read is taken
    // without pausing the transfer.
    pending.reserve(2 * static_cast<std::size_t>(settings.receiveBufferSize));
    interruptFd = settings.interruptFd;

    const bool secure = (flags & INTERNET_FLAG_SECURE) != 0;
    const std::string url = std::string(secure ? "https://" : "http://") + connection.Server() +
                            ":" + std::to_string(connection.Port()) + object;

    CURL* h = easy.get();
    CURLcode rc = CURLE_OK;
    const auto set = [&rc](CURLcode step) {
        if (rc == CURLE_OK) rc = step;
    };
    set(curl_easy_setopt(h, CURLOPT_URL, url.c_str()));
    // The object is canonical already: libcurl must send it exactly as it is.
    set(curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L));
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L));
    set(curl_easy_setopt(h, CURLOPT_MAXREDIRS, curlMaxFollows));
    // One request per connection: each redirect or authentication round opens a fresh one, and
    // libcurl closes each once its answer has been read, framed by its length or its chunks, so
    // nothing waits for the server to close. Reusing the last one fails whenever a server closes
    // after answering without saying so, and saves nothing worth that on a single download.
    set(curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L));
    // HTTP/1.1, so that a server frames a body of unknown length with chunks: their missing end
    // shows a body cut short, where under HTTP/1.0 the connection's end is the body's end, and
    // a server's abort reads as a whole body.
    set(curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1));
    // TLS's protocol offer (ALPN) names http/1.1 alone, the version asked for: a server that
    // picks the protocol it speaks from the offer cannot pick one that the request does not use.
    set(curl_easy_setopt(h, CURLOPT_SSL_ENABLE_ALPN, 1L));
    set(curl_easy_setopt(h, CURLOPT_USERAGENT, session.Agent().c_str()));
    set(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get()));
    if (!connection.UserName().empty()) {
        set(curl_easy_setopt(h, CURLOPT_USERNAME, connection.UserName().c_str()));
        set(curl_easy_setopt(h, CURLOPT_PASSWORD, connection.Password().c_str()));
        // Two schemes make libcurl wait for the server to ask, and then answer with the one that
        // the server offers.
        set(curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST));
    }
    // Credentials go only to the host that the user named, never to one that a redirect names.
    set(curl_easy_setopt(h, CURLOPT_UNRESTRICTED_AUTH, 0L));
    // https only with a certificate that a trusted authority signed...
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    // ...and that was issued for the host name in the URL.
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    set(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorDetail));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
#if LIBCURL_VERSION_NUM >= 0x075700
    // A name lookup still running when the transfer is torn down is left to its thread, not
    // waited for: a download stopped by a signal ends at once, not when the resolver gives up.
    // A libcurl older than its headers refuses the option, and then merely waits.
    (void)curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
#endif
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(settings.connectTimeout.count()) * 1000L));
    set(curl_easy_setopt(h, CURLOPT_BUFFERSIZE, settings.receiveBufferSize));
    // Certificates of the user's own replace the system's store; libcurl reports a file that it
    // cannot load, and the folders are looked at here.
    if (!settings.caFile.empty() || !settings.caPath.empty()) {
        set(curl_easy_setopt(h, CURLOPT_CAINFO,
                             settings.caFile.empty() ? nullptr : settings.caFile.c_str()));
        set(curl_easy_setopt(h, CURLOPT_CAPATH,
                             settings.caPath.empty() ? nullptr : settings.caPath.c_str()));
        trustedFoldersReadable = CertificateFoldersReadable(settings.caPath);
    }
    // Any connection may be TLS: a redirect may lead from http to https. A TLS backend without
    // this hook leaves the watch out, and then no body that ends with a TLS connection's end is
    // taken as whole (FinalAnswerOverTls).
    const CURLcode tlsWatch = curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &OnTlsContext);
    if (tlsWatch != CURLE_NOT_BUILT_IN && tlsWatch != CURLE_UNKNOWN_OPTION) {
        set(tlsWatch);
        set(curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, this));
    }
    set(curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CHttpFile::OnHeader));
    set(curl_easy_setopt(h, CURLOPT_HEADERDATA, this));
    set(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CHttpFile::OnBody));
    set(curl_easy_setopt(h, CURLOPT_WRITEDATA, this));
    // A new connection, and a request sent on it, each mean that the next header line begins a
    // new block. They also mark where each connection's wait for the server begins: the stall
    // limit is the layer's own (Pump), silence rather than an average speed.
    set(curl_easy_setopt(h, CURLOPT_SOCKOPTFUNCTION, &CHttpFile::OnSocket));
    set(curl_easy_setopt(h, CURLOPT_SOCKOPTDATA, this));
    set(curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &CHttpFile::OnRequest));
    set(curl_easy_setopt(h, CURLOPT_PREREQDATA, this));
    if (rc != CURLE_OK) setupError = rc == CURLE_OUT_OF_MEMORY ? errorOutOfMemory : errorInternal;
}

CHttpFile::~CHttpFile() {
    if (attached) curl_multi_remove_handle(multi.get(), easy.get());
}

void CHttpFile::SubmitRequest(const char* headers, std::uint32_t headersLength, const void* body,
                              std::uint32_t bodyLength) {
    // The program sends no extra header line and no body.
    if (setupError == 0 &&
        ((headers != nullptr && headersLength != 0) || (body != nullptr && bodyLength != 0))) {
        setupError = errorInternal;
    }
    if (setupError == 0 && !attached) {
        if (curl_multi_add_handle(multi.get(), easy.get()) == CURLM_OK) {
            attached = true;
        } else {
            setupError = errorInternal;
        }
    }
    if (setupError != 0) Raise(setupError);
    Pump(false);
    if (!responseState.final && ProxyRefusedTunnel()) {
        // A proxy's refusal of CONNECT is the proxy's answer, as its refusal of a request sent
        // through it is: the result is its status, and it reads the same either way.
        responseState.final = true;
        responseState.refusedTunnel = true;
    }
    if (!responseState.final) {
        // The transfer ended before a block was taken as the final answer.
        if (transferState.result != CURLE_OK || transferState.callbackError != 0)
            RaiseTransferFailure();
        // libcurl counts a cut-off header block as an answer; it is none.
        if (!headerBlock.Complete()) Raise(errorHeaderIncomplete);
        // libcurl ended after a block that it might have followed up and did not (a challenge
        // it gave up on): that block is its answer.
        if (!TakeFinalBlock()) RaiseTransferFailure();
    }
    // The status that gates the body is the one libcurl acted on; a block that reads otherwise
    // was not framed as libcurl framed it, and a block without a status is no answer. So once
    // this returns, QueryStatusCode has a status to give.
    long responseCode = 0;
    if (curl_easy_getinfo(
            easy.get(),
            responseState.refusedTunnel ? CURLINFO_HTTP_CONNECTCODE : CURLINFO_RESPONSE_CODE,
            &responseCode) != CURLE_OK ||
        headerBlock.StatusCode() <= 0 || responseCode != headerBlock.StatusCode()) {
        Raise(errorInvalidResponse);
    }
    transferState.handedOver = true;
}

void CHttpFile::Raise(std::uint32_t error, std::string responseText, std::string curlWords) {
    ThrowInternetFailure(requestContext, error, std::move(responseText), std::move(curlWords));
}

bool CHttpFile::QueryStatusCode(std::uint32_t& status) const {
    const int code = headerBlock.StatusCode();
    if (code <= 0) return false;
    status = static_cast<std::uint32_t>(code);
    return true;
}

bool CHttpFile::QueryHeaderText(std::uint32_t level, std::string& text,
                                std::uint32_t* index) const {
    text.clear();
    switch (level) {
        case HTTP_QUERY_RAW_HEADERS_CRLF:
            text = headerBlock.RawText();
            return !text.empty();
        case HTTP_QUERY_CONTENT_LENGTH: {
            // The length that frames the body as libcurl reads it, which for a 200 answer is the
            // checked value of every Content-Length header of the block; none under chunked
            // coding, which libcurl obeys instead.
            const curl_off_t length = responseState.framingLength;
            if (length < 0 || LatestHeaderValues(easy.get(), "Content-Length").size() <=
                                  (index != nullptr ? *index : 0))
                return false;
            if (index != nullptr) ++*index;
            text = std::to_string(length);
            return true;
        }
        default:
            return false;
    }
}

std::uint32_t CHttpFile::ReadBody(void* buffer, std::uint32_t count) {
    if (!attached) Raise(errorInternal);
    if (count == 0) return 0;
    if (!digestChecked) {
        digestChecked = true;
        std::vector<DigestCheck> checks = DigestChecks(headerBlock);
        if (!checks.empty()) digestWorker = std::make_unique<DigestWorker>(std::move(checks));
    }
    if (!HasPending() && transferState.phase != Phase::done) Pump(true);
    if (digestWorker && digestSubmitted < pending.size()) {
        // What arrived since the last round (with the header block, the first time) goes to the
        // checksums in one piece: one hand-over per round of the transfer, not per delivery.
        digestWorker->Submit(pending.data() + digestSubmitted, pending.size() - digestSubmitted);
        digestSubmitted = pending.size();
    }
    if (HasPending()) {
        const std::size_t n = std::min<std::size_t>(count, pending.size() - pendingOffset);
        std::memcpy(buffer, pending.data() + pendingOffset, n);
        pendingOffset += n;
        return static_cast<std::uint32_t>(n);
    }
    if (transferState.result != CURLE_OK || transferState.callbackError != 0)
        RaiseTransferFailure();
    // The body is whole, and every byte of it has been handed out; it counts as received only if
    // it is what the server vouched for.
    const DigestVerdict verdict = digestWorker ? digestWorker->Finish() : DigestVerdict::matches;
    if (verdict != DigestVerdict::matches) {
        Raise(verdict == DigestVerdict::differs ? errorDigestMismatch : errorInternal);
    }
    return 0;
}

bool CHttpFile::ProxyRefusedTunnel() const {
    // Only a whole block on a connection that no request of the program's own went out on:
    // the proxy's answer to CONNECT, which libcurl gave up on.
    if (transferState.callbackError != 0 || transferState.result == CURLE_OK ||
        connectionState.requestSent || !connectionState.tunnelAnswered || headerBlock.Open())
        return false;
    long connectCode = 0;
    return curl_easy_getinfo(easy.get(), CURLINFO_HTTP_CONNECTCODE, &connectCode) == CURLE_OK &&
           connectCode >= 300 && connectCode == headerBlock.StatusCode();
}

bool CHttpFile::FinalAnswerOverTls() const {
    const char* scheme = nullptr;
    curl_easy_getinfo(easy.get(), CURLINFO_SCHEME, &scheme);
    return connectionState.tlsContext != nullptr || IsHttps(scheme);
}

bool CHttpFile::BodyEndsWithConnection() const {
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    // These answers have no body, whatever their headers say.
    if (status == 204 || status == 304) return false;
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
        length >= 0)
        return false;
    // The chunked coding ends the body with its last chunk, which libcurl checks for itself.
    return !NamesChunkedCoding(LatestHeaderValues(easy.get(), "Transfer-Encoding"));
}

void CHttpFile::NoteBytesHeard(StallLimit::Clock::time_point now) {
    curl_off_t body = 0;
    long header = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_SIZE_DOWNLOAD_T, &body);
    curl_easy_getinfo(easy.get(), CURLINFO_HEADER_SIZE, &header);
    const curl_off_t heard = body + header;
    if (heard == transferState.bytesHeard) return;
    transferState.bytesHeard = heard;
    stallLimit.Heard(now);
}

bool CHttpFile::InterruptRequested() const {
    if (interruptFd < 0) return false;
    pollfd ready{interruptFd, POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0;
}

void CHttpFile::Pump(bool untilBody) {
    const auto ready = [this, untilBody] {
        return untilBody ? HasPending() : transferState.phase != Phase::awaitingFinalHeaders;
    };
    // Time spent by the caller between two reads is no silence of the server's: the bytes it
    // sent meanwhile wait in the socket, and show as an event at the first poll.
    stallLimit.Heard(StallLimit::Clock::now());
    while (transferState.phase != Phase::done && !ready()) {
        if (transferState.paused && !HasPending()) {
            // Resuming hands over the delivery that was held back, through OnBody, at once.
            transferState.paused = false;
            const CURLcode rc = curl_easy_pause(easy.get(), CURLPAUSE_CONT);
            if (rc != CURLE_OK) {
                transferState.result = rc;
                transferState.phase = Phase::done;
            }
            continue;
        }
        if (InterruptRequested()) {
            transferState.callbackError = errorInterrupted;
            transferState.phase = Phase::done;
            break;
        }
        int running = 0;
        CURLMcode mc = CURLM_OK;
        {
            // A name lookup's thread is started in here; it must take none of the signals.
            const HeldSignals held;
            mc = curl_multi_perform(multi.get(), &running);
        }
        if (mc == CURLM_OK) {
            // Bytes that were waiting before the poll could report them are heard here.
            NoteBytesHeard(StallLimit::Clock::now());
            CollectResult();
            if (transferState.phase == Phase::done || ready()) break;
            int events = 0;
            // The interruption's descriptor wakes the wait; the next round sees it.
            curl_waitfd interrupt{interruptFd, CURL_WAIT_POLLIN, 0};
            const auto bound = stallLimit.WaitBound(StallLimit::Clock::now(),
                                                    std::chrono::milliseconds(pollTimeoutMs));
            mc =
                curl_multi_poll(multi.get(), interruptFd >= 0 ? &interrupt : nullptr,
                                interruptFd >= 0 ? 1 : 0, static_cast<int>(bound.count()), &events);
            const auto now = StallLimit::Clock::now();
            // An event on the connection is bytes arriving (or its end), whether or not they
            // complete a header line or a body delivery.
            if (events > 0) {
                stallLimit.Heard(now);
            } else if (mc == CURLM_OK && stallLimit.Expired(now)) {
                transferState.callbackError = errorStalled;
                transferState.phase = Phase::done;
            }
        }
        if (mc != CURLM_OK) {
            transferState.result =
                mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
            transferState.phase = Phase::done;
        }
    }
}

void CHttpFile::CollectResult() {
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy.get()) {
            transferState.phase = Phase::done;
            transferState.result = message->data.result;
            // Over TLS, a body that ends with the connection is whole only when the server of
            // that connection ended its TLS session itself.
            // (A head cut off there is a head that never arrived whole; SubmitRequest says so.)
            if (transferState.result == CURLE_OK && transferState.callbackError == 0 &&
                headerBlock.Complete() && FinalAnswerOverTls() && !connectionState.closeNotified &&
                BodyEndsWithConnection())
                transferState.callbackError = errorTlsCutOff;
        }
    }
}

void CHttpFile::RaiseTransferFailure() {
    std::uint32_t error = transferState.callbackError;
    std::string curlWords;  // only for a failure that libcurl found itself
    if (error == 0) {
        CurlFailureFacts facts;
        facts.code = transferState.result;
        curl_easy_getinfo(easy.get(), CURLINFO_OS_ERRNO, &facts.osErrno);
        curl_easy_getinfo(easy.get(), CURLINFO_SSL_VERIFYRESULT, &facts.verifyResult);
        const curl_version_info_data* version = curl_version_info(CURLVERSION_NOW);
        facts.verifyResultIsOpenssl = version != nullptr && version->ssl_version != nullptr &&
                                      TlsBackendIsOpenssl(version->ssl_version);
        if (version != nullptr) facts.libcurlVersion = version->version_num;
        facts.tlsWithoutCloseNotify = FinalAnswerOverTls() && !connectionState.closeNotified;
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &facts.responseCode);
        long connectCode = 0;
        curl_easy_getinfo(easy.get(), CURLINFO_HTTP_CONNECTCODE, &connectCode);
        // A proxy that let the tunnel through is no part of the failure.
        facts.proxyConnectCode = connectCode >= 200 && connectCode < 300 ? 0 : connectCode;
        // Whether the last connection, the one that failed, had been made: an earlier one (a
        // redirect's) says nothing about it.
        facts.connected = connectionState.established;
        facts.headComplete = headerBlock.Complete();
        facts.bodyEndsWithConnection = facts.headComplete && BodyEndsWithConnection();
        const char* effectiveUrl = nullptr;
        curl_easy_getinfo(easy.get(), CURLINFO_EFFECTIVE_URL, &effectiveUrl);
        if (effectiveUrl != nullptr) facts.effectiveUrl = effectiveUrl;
        facts.errorDetail = errorDetail;
        error = InternetErrorFromCurl(facts);
        curlWords = CurlWords(errorDetail, transferState.result);
    }
    // The extended error's text is the status line of the answer that refused: a proxy's answer
    // to CONNECT reaches the header block like any other.
    Raise(error, error == errorExtended ? headerBlock.StatusLine() : std::string(),
          std::move(curlWords));
}

size_t CHttpFile::OnHeader(char* data, size_t size, size_t count, void* self) noexcept {
    auto* file = static_cast<CHttpFile*>(self);
    const size_t length = size * count;
    // Everything the line sets off may allocate: no exception may leave this callback.
    try {
        return file->TakeHeaderLine(std::string_view(data, length)) ? length : 0;
    } catch (...) {
        file->transferState.callbackError = errorOutOfMemory;
        return 0;
    }
}

bool CHttpFile::TakeHeaderLine(std::string_view line) {
    connectionState.established = true;
    const bool wasOpen = headerBlock.Open();
    // A line that begins with a blank right after the status line continues no field: the
    // answer is not valid HTTP, whatever a libcurl would make of the line.
    if (wasOpen && !line.empty() && (line.front() == ' ' || line.front() == '\t') &&
        headerBlock.RawText().size() == headerBlock.StatusLine().size() + 2) {
        transferState.callbackError = errorInvalidResponse;
        return false;
    }
    headerBlock.AddLine(line);
    if (!wasOpen || !headerBlock.Complete()) return true;
    if (!connectionState.requestSent) {
        // A proxy's answer to CONNECT: whatever follows on this connection begins anew.
        connectionState.tunnelAnswered = true;
        headerBlock.ExpectNewBlock();
        return true;
    }
    // What libcurl read of the block is what it acts on; the block as the layer read it must
    // carry the same status, or the two do not agree on where the answer's head is.
    BlockFacts facts;
    long serverSchemes = 0;
    if (curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &facts.status) != CURLE_OK ||
        facts.status != headerBlock.StatusCode()) {
        transferState.callbackError = errorInvalidResponse;
        return false;
    }
    curl_easy_getinfo(easy.get(), CURLINFO_HTTPAUTH_AVAIL, &serverSchemes);
    facts.serverSchemes = static_cast<unsigned long>(serverSchemes);
    facts.locations = LatestHeaderValues(easy.get(), "Location");
    facts.challenges = LatestHeaderValues(easy.get(), "WWW-Authenticate");
    switch (JudgeCompleteBlock(facts, serverRounds, reading)) {
        case NextStep::followRedirect:
            if (++transferState.redirects > maxRedirects) {
                transferState.callbackError = errorTooManyRedirects;
                return false;
            }
            return true;
        case NextStep::answerChallenge:
            return true;
        case NextStep::finalAnswer:
            break;
    }
    if (!TakeFinalBlock()) return false;
    transferState.phase = Phase::body;
    return true;
}

bool CHttpFile::TakeFinalBlock() {
    // The body that is stored must be framed as libcurl frames it: a 200 whose Content-Length
    // cannot be read for certain is refused. Any other answer's verdict is its status.
    if (headerBlock.StatusCode() == 200 && !headerBlock.ContentLengthValid()) {
        transferState.callbackError = errorInvalidResponse;
        return false;
    }
    responseState.final = true;
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
        responseState.framingLength = length;
    return true;
}

int CHttpFile::OnSocket(void* self, curl_socket_t /*socket*/, curlsocktype /*purpose*/) noexcept {
    auto* file = static_cast<CHttpFile*>(self);
    if (!file->FollowUpAllowed()) return CURL_SOCKOPT_ERROR;
    // A block that began on the last connection and never reached its empty line was cut off:
    // libcurl would act on it (follow its Location, answer its challenge) as if it were whole.
    if (file->headerBlock.Open()) {
        file->transferState.callbackError = errorHeaderIncomplete;
        return CURL_SOCKOPT_ERROR;
    }
    file->connectionState = {};
    file->responseState = {};
    file->headerBlock.ExpectNewBlock();
    // Connecting (and the TLS handshake) is governed by the connect time-out, not the stall limit.
    file->stallLimit.Connecting();
    return CURL_SOCKOPT_OK;
}

int CHttpFile::OnRequest(void* self, char* /*remoteAddress*/, char* /*localAddress*/,
                         int /*remotePort*/, int /*localPort*/) noexcept {
    auto* file = static_cast<CHttpFile*>(self);
    if (!file->FollowUpAllowed()) return CURL_PREREQFUNC_ABORT;
    const auto target = file->CurrentTarget();
    std::optional<RequestTarget>& last = file->transferState.lastTarget;
    if (target && last && *target != *last) file->serverRounds.CredentialsDropped();
    if (target) last = target;
    file->connectionState.requestSent = true;
    file->connectionState.established = true;
    file->responseState = {};
    file->headerBlock.ExpectNewBlock();
    file->stallLimit.RequestSent(StallLimit::Clock::now());
    return CURL_PREREQFUNC_OK;
}

bool CHttpFile::FollowUpAllowed() noexcept {
    if (transferState.phase == Phase::awaitingFinalHeaders) return true;
    // libcurl follows up a block that the layer took as final. Before SubmitRequest has returned
    // it, libcurl is right, and the answer to the follow-up decides; afterwards the caller has
    // acted on that block, and the transfer fails rather than change under it.
    if (transferState.phase == Phase::body && !transferState.handedOver && !HasPending()) {
        transferState.phase = Phase::awaitingFinalHeaders;
        responseState = {};
        return true;
    }
    transferState.callbackError = errorInvalidResponse;
    return false;
}

std::optional<CHttpFile::RequestTarget> CHttpFile::CurrentTarget() const noexcept {
    const char* url = nullptr;
    if (curl_easy_getinfo(easy.get(), CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || url == nullptr)
        return std::nullopt;
    const CurlUrlPtr handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url, 0) != CURLUE_OK)
        return std::nullopt;
    char* scheme = nullptr;
    char* port = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) return std::nullopt;
    const CurlStringPtr schemeText(scheme);
    if (curl_url_get(handle.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) != CURLUE_OK)
        return std::nullopt;
    const CurlStringPtr portText(port);
    return RequestTarget{IsHttps(schemeText.get()), std::strtol(portText.get(), nullptr, 10)};
}

size_t CHttpFile::OnBody(char* data, size_t size, size_t count, void* self) noexcept {
    auto* file = static_cast<CHttpFile*>(self);
    const size_t length = size * count;
    // Body bytes while the block as the layer reads it is still open: libcurl has ended the head
    // where the layer did not (at a line that begins with a carriage return), and no verdict can
    // rest on either reading.
    if (!file->headerBlock.Complete()) {
        file->transferState.callbackError = errorInvalidResponse;
        return 0;
    }
    // Only the final answer's body is handed over: its block is the final one, whatever was
    // expected of it (a challenge libcurl did not answer, a redirect it did not follow).
    if (!file->responseState.final && !file->TakeFinalBlock()) return 0;
    if (file->transferState.phase == Phase::awaitingFinalHeaders)
        file->transferState.phase = Phase::body;
    std::vector<char>& pending = file->pending;
    if (!file->HasPending()) {
        pending.clear();
        file->pendingOffset = 0;
        file->digestSubmitted = 0;
    }
    if (pending.capacity() - pending.size() < length && file->HasPending()) {
        // No room behind the unread bytes: libcurl keeps this delivery and hands it over again
        // when the transfer is resumed, so the buffer never grows past its reserved size.
        file->transferState.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    try {
        pending.insert(pending.end(), data, data + length);
    } catch (...) {
        file->transferState.callbackError = errorOutOfMemory;
        return 0;
    }
    return length;
}

}  // namespace korrin
