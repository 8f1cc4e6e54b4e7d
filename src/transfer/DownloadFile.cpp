#include "transfer/DownloadFile.h"

#include <sys/ioctl.h>

#include <memory>
#include <new>
#include <optional>
#include <string>

#include "transfer/ContentLength.h"
#include "transfer/OutputSink.h"
#include "webaccess/HttpConnection.h"
#include "webaccess/HttpFile.h"
#include "webaccess/InternetErrors.h"
#include "webaccess/InternetException.h"
#include "webaccess/InternetFlags.h"
#include "webaccess/MessageTable.h"

namespace korrin {

namespace {

// The most bytes of the body copied at a time.
constexpr std::uint32_t bodyChunkSize = 1024;
// The room for a failure's message text, its terminating zero included.
constexpr std::uint32_t messageBufferSize = 1024;

constexpr const char* headerCommentStart = "<!-- HTTP HEADERS:\n";
constexpr const char* headerCommentEnd = "-->\n\n";

// The width of the terminal that stream writes to; 0 when it writes to none, or the terminal
// does not know its size.
int ConsoleColumns(std::FILE* stream) {
    winsize size{};
    if (stream == nullptr || ::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

std::string MessageTextOf(const CInternetException& failure) {
    // Without a text the report stays empty; the result is -1 all the same.
    char buffer[messageBufferSize];
    failure.MessageText(buffer, sizeof buffer);
    return buffer;
}

// The layer's text for running out of memory. The text is short, so storing it is likely to
// succeed even now; if it does not, the report stays empty and the result is -1 all the same.
void TakeOutOfMemoryText(std::string& errorText) noexcept {
    errorText.clear();
    try {
        LookUpLayerMessage(errorOutOfMemory, errorText);
    } catch (const std::bad_alloc&) {
        errorText.clear();
    }
}

}  // namespace

// The job is taken by value: the transfer works on its own copies of the texts, and shares only
// errorText with its caller. Running out of memory anywhere in the job ends it as a failure with
// the layer's text: the request, the connection, the session and the output file have been
// released on the way out.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::int32_t DownloadFile(DownloadJob job, const DownloadEnvironment& environment) try {
    std::string& errorText = *job.errorText;

    // Declared in this order so that the request goes first, then the connection, then the
    // session, on every way out.
    std::optional<CInternetSession> session;
    std::unique_ptr<CHttpConnection> connection;
    std::unique_ptr<CHttpFile> request;
    try {
        session.emplace(job.agent, environment.session);
        connection =
            session->OpenHttpConnection(job.server, 0, job.port, job.userName, job.password);
        request = connection->OpenGetRequest(
            "GET", job.object, nullptr, nullptr, nullptr,
            INTERNET_FLAG_RELOAD | (job.secure ? INTERNET_FLAG_SECURE : 0));
        request->SubmitRequest(nullptr, 0, nullptr, 0);
    } catch (const CInternetException& failure) {
        errorText = MessageTextOf(failure);
        return -1;
    }

    // SubmitRequest has returned only with a status to give: the flag says nothing more.
    std::uint32_t status = 0;
    request->QueryStatusCode(status);
    if (!job.fetchBody || status != 200) {
        errorText.clear();
        return static_cast<std::int32_t>(status);
    }

    OutputSink sink(job.outputPath);
    if (!sink.IsOpen()) {
        errorText = errorOpeningOutputText;
        return -1;
    }

    std::FILE* const console = environment.console;
    ProgressMeter meter(environment.clock, console, [console] { return ConsoleColumns(console); });
    bool meterStarted = false;
    // Every failure once the sink is open ends here: the progress line, once begun, is ended, the
    // report is stored, and the file is closed with what it holds (or standard output flushed;
    // finishing a finished sink does nothing).
    const auto fail = [&](std::string text) {
        if (meterStarted && job.showProgress) meter.Interrupt();
        errorText = std::move(text);
        sink.Finish();
        return -1;
    };

    std::string headerText;
    if (job.showHeaders) {
        std::uint32_t index = 0;
        if (!request->QueryHeaderText(HTTP_QUERY_RAW_HEADERS_CRLF, headerText, &index))
            return fail(errorGettingHeadersText);
        const std::string comment = headerCommentStart + headerText + headerCommentEnd;
        if (!sink.Write(comment.data(), comment.size())) return fail(errorWritingOutputText);
    }

    std::int64_t contentLength = 0;
    if (request->QueryHeaderText(HTTP_QUERY_CONTENT_LENGTH, headerText, nullptr)) {
        contentLength = ConvertContentLength(headerText);
    }

    try {
        meter.Start();
        meterStarted = true;
        char chunk[bodyChunkSize];
        std::int64_t bytesSoFar = 0;
        while (true) {
            const std::uint32_t n = request->ReadBody(chunk, bodyChunkSize);
            if (n < 1) break;
            bytesSoFar += n;
            if (!sink.Write(chunk, n)) return fail(errorWritingOutputText);
            if (job.showProgress) meter.Update(n, bytesSoFar, contentLength);
        }
    } catch (const CInternetException& failure) {
        return fail(MessageTextOf(failure));
    } catch (const std::bad_alloc&) {
        std::string text;
        TakeOutOfMemoryText(text);
        return fail(std::move(text));
    }

    // The file is closed before the closing line is drawn, so that a failure to store the last
    // bytes is never shown as a full bar.
    if (!sink.Finish()) return fail(errorWritingOutputText);
    if (job.showProgress) meter.Complete();
    errorText.clear();
    return static_cast<std::int32_t>(status);
} catch (const std::bad_alloc&) {
    TakeOutOfMemoryText(*job.errorText);
    return -1;
}

}  // namespace korrin
