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

// Size of the chunks in which the body is copied, and of the failure text buffer.
constexpr std::uint32_t chunkSize = 1024;

constexpr const char* headerCommentStart = "<!-- HTTP HEADERS:\n";
constexpr const char* headerCommentEnd = "-->\n\n";

// The width of the terminal that stream writes to; 0 when it writes to none, or the terminal
// does not know its size.
int ConsoleColumns(std::FILE* stream) {
    winsize size{};
    if (stream == nullptr || ::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

void TakeMessageText(const CInternetException& failure, char (&buffer)[chunkSize],
                     std::string& errorText) {
    // Without a text the report stays empty; the result is -1 all the same.
    failure.MessageText(buffer, sizeof buffer);
    errorText = buffer;
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
    char buffer[chunkSize];

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
        TakeMessageText(failure, buffer, errorText);
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

    std::string headerText;
    if (job.showHeaders) {
        std::uint32_t index = 0;
        if (!request->QueryHeaderText(HTTP_QUERY_RAW_HEADERS_CRLF, headerText, &index)) {
            errorText = errorGettingHeadersText;
            sink.Finish();
            return -1;
        }
        const std::string comment = headerCommentStart + headerText + headerCommentEnd;
        if (!sink.Write(comment.data(), comment.size())) {
            errorText = errorWritingOutputText;
            sink.Finish();
            return -1;
        }
    }

    std::int64_t contentLength = 0;
    if (request->QueryHeaderText(HTTP_QUERY_CONTENT_LENGTH, headerText, nullptr)) {
        contentLength = ConvertContentLength(headerText);
    }

    std::FILE* const console = environment.console;
    ProgressMeter meter(environment.clock, console, [console] { return ConsoleColumns(console); });
    try {
        meter.Start();
        std::int64_t bytesSoFar = 0;
        while (true) {
            const std::uint32_t n = request->ReadBody(buffer, chunkSize);
            if (n < 1) break;
            bytesSoFar += n;
            if (!sink.Write(buffer, n)) {
                if (job.showProgress) meter.Interrupt();
                errorText = errorWritingOutputText;
                sink.Finish();
                return -1;
            }
            if (job.showProgress) meter.Update(n, bytesSoFar, contentLength);
        }
    } catch (const CInternetException& failure) {
        if (job.showProgress) meter.Interrupt();
        TakeMessageText(failure, buffer, errorText);
        sink.Finish();
        return -1;
    } catch (const std::bad_alloc&) {
        if (job.showProgress) meter.Interrupt();
        TakeOutOfMemoryText(errorText);
        sink.Finish();
        return -1;
    }

    // The file is closed before the closing line is drawn, so that a failure to store the last
    // bytes is never shown as a full bar.
    if (!sink.Finish()) {
        if (job.showProgress) meter.Interrupt();
        errorText = errorWritingOutputText;
        return -1;
    }
    if (job.showProgress) meter.Complete();
    errorText.clear();
    return static_cast<std::int32_t>(status);
} catch (const std::bad_alloc&) {
    TakeOutOfMemoryText(*job.errorText);
    return -1;
}

}  // namespace korrin
