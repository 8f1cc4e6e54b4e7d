#include "frontend/Run.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "Version.h"
#include "frontend/Console.h"
#include "frontend/FormatText.h"
#include "frontend/InterruptSignals.h"
#include "frontend/Messages.h"
#include "frontend/OptionScan.h"
#include "frontend/ProgramName.h"
#include "transfer/DownloadFile.h"
#include "webaccess/InternetErrors.h"
#include "webaccess/MessageTable.h"
#include "webaccess/SplitUrl.h"

namespace korrin {

namespace {

// Prints the verdict for result and pauses after a failure. Returns the exit status.
int ReportOutcome(std::int32_t result, std::string& errorText) {
    if (result == 200) {
        std::printf("%s", messages::retrievedOk);
        return 0;
    }
    if (result == -1) {
        std::printf(messages::retrievalFailed, errorText.c_str());
    } else {
        if (result == 404) {
            errorText = messages::fileNotFound;
        } else if (result == 401) {
            errorText = messages::badCredentials;
        } else {
            errorText.clear();
        }
        std::printf(messages::statusFailed, static_cast<int>(result), errorText.c_str());
    }
    WaitForKey();
    return 1;
}

// The run itself; verbose is set as soon as it is known.
int Run(int argumentCount, char* const* arguments, bool& verbose) {
    // Argument 0 is whatever the caller chose: its control characters must reach neither the
    // agent's header line nor the console.
    const std::string name =
        BlankNameControls(ProgramNameFromArgument(argumentCount > 0 ? arguments[0] : nullptr));
    const std::string banner = FormatText(messages::bannerFormat, name.c_str(), versionText);
    if (argumentCount < 2) ShowUsage(name, versionText);

    const char* url = arguments[1];
    const Options options = ScanOptions(argumentCount, arguments);
    // The password has been copied; the process list need not show it any longer.
    BlankPasswordArguments(argumentCount, arguments);
    // The console is the user's only when the body goes to a file.
    verbose = !options.outputPath.empty();
    if (verbose) std::printf(messages::bannerLine, name.c_str(), versionText);

    std::uint32_t serviceKind = serviceOther;
    DownloadJob job;
    if (!SplitUrl(url, serviceKind, job.server, job.object, job.port)) {
        // The URL is echoed with its control characters blanked, so that it cannot drive the
        // terminal; its printable bytes stay as given.
        std::printf(messages::badUrl, PrintableText(url).c_str());
        if (verbose) WaitForKey();
        return 1;
    }
    if (verbose) std::printf("%s", messages::downloading);

    std::string errorText;
    job.userName = options.userName;
    job.password = options.password;
    job.showHeaders = options.showHeaders;
    job.outputPath = options.outputPath;
    job.fetchBody = true;
    job.errorText = &errorText;
    job.agent = banner;
    job.showProgress = verbose;
    job.secure = serviceKind == serviceHttps;

    std::int32_t result = -1;
    {
        // A stopping signal during the download ends it with every byte that arrived stored, and
        // then ends the process as the signal would have; the key wait comes later, with
        // handlers of its own.
        InterruptSignals signals;
        DownloadEnvironment environment;
        environment.session.interruptFd = signals.WakeFd();
        // OpenSSL's own variables name trusted certificates in place of the system's store, as
        // for OpenSSL's tools; an empty value counts as unset.
        if (const char* file = std::getenv("SSL_CERT_FILE")) environment.session.caFile = file;
        if (const char* folders = std::getenv("SSL_CERT_DIR")) environment.session.caPath = folders;
        result = DownloadFile(job, environment);
        signals.EndProcessIfCaught();
    }
    if (!verbose) return result == 200 ? 0 : 1;
    return ReportOutcome(result, errorText);
}

}  // namespace

int RunKorrin(int argumentCount, char* const* arguments) {
    bool verbose = false;
    try {
        return Run(argumentCount, arguments, verbose);
    } catch (const std::bad_alloc&) {
        // Out of memory outside the download (which reports it itself): the same verdict, on the
        // console only when it is in use; nothing goes to standard error.
        if (verbose) {
            std::string text;
            try {
                LookUpLayerMessage(errorOutOfMemory, text);
            } catch (const std::bad_alloc&) {
                text.clear();
            }
            std::printf(messages::retrievalFailed, text.c_str());
            WaitForKey();
        }
        return 1;
    }
}

}  // namespace korrin
