#include "frontend/Run.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "Version.h"
#include "frontend/Console.h"
#include "frontend/FormatText.h"
#include "frontend/InterruptSignals.h"
#include "frontend/Messages.h"
#include "frontend/OptionScan.h"
#include "frontend/ProgramName.h"
#include "transfer/DownloadFile.h"
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

}  // namespace

int RunKorrin(int argumentCount, const char* const* arguments) {
    const std::string name = ProgramNameFromArgument(argumentCount > 0 ? arguments[0] : nullptr);
    const std::string banner = FormatText(messages::bannerFormat, name.c_str(), versionText);
    if (argumentCount < 2) ShowUsage(name, versionText);

    const char* url = arguments[1];
    const Options options = ScanOptions(argumentCount, arguments);
    // The console is the user's only when the body goes to a file.
    const bool verbose = !options.outputPath.empty();
    if (!verbose) {
        // The body goes to standard output: write it in large blocks, not in the default 4 KiB
        // ones. Nothing has been written to standard output yet, as setvbuf requires.
        static char standardOutputBuffer[128 * 1024];
        std::setvbuf(stdout, standardOutputBuffer, _IOFBF, sizeof standardOutputBuffer);
    }
    if (verbose) std::printf(messages::bannerLine, name.c_str(), versionText);

    std::uint32_t serviceKind = serviceOther;
    DownloadJob job;
    if (!SplitUrl(url, serviceKind, job.server, job.object, job.port)) {
        std::printf(messages::badUrl, url);
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
        result = DownloadFile(job, environment);
        signals.EndProcessIfCaught();
    }
    if (!verbose) return result == 200 ? 0 : 1;
    return ReportOutcome(result, errorText);
}

}  // namespace korrin
