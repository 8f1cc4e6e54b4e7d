#pragma once

#include <cstdint>
#include <cstdio>

#include "transfer/DownloadJob.h"
#include "transfer/ProgressMeter.h"
#include "webaccess/InternetSession.h"

namespace korrin {

// Fixed error texts of the transfer's own failures.
inline constexpr const char* errorOpeningOutputText = "Error opening output file";
inline constexpr const char* errorGettingHeadersText = "Error getting headers";
inline constexpr const char* errorWritingOutputText = "Error writing output file";

// What a download runs against besides the job: the session's settings, and the clock and
// console of the progress meter. The defaults are the program's.
struct DownloadEnvironment {
    SessionSettings session;
    ProgressMeter::Clock clock = WallClockSeconds;
    std::FILE* console = stdout;
};

// Performs one download job: one GET of job.object on job.server:job.port, and, for a 200 answer
// with job.fetchBody, the body copied into the sink (the file job.outputPath, or standard
// output), behind the header comment when job.showHeaders is set.
//
// Returns the HTTP status, with *job.errorText emptied, or -1 with *job.errorText describing the
// failure. Only a 200 answer opens the sink: any other status leaves an existing output file as
// it was. A failure after the body has begun leaves the bytes written so far in the file.
std::int32_t DownloadFile(DownloadJob job, const DownloadEnvironment& environment = {});

}  // namespace korrin
