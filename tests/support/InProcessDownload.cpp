#include "support/InProcessDownload.h"

#include <cstdio>
#include <memory>

#include "support/Loopback.h"
#include "transfer/DownloadFile.h"

namespace korrin::test {

InProcessRun DownloadInProcess(std::uint16_t port, const std::string& object, bool secure,
                               const SessionSettings& settings, const std::string& outputPath) {
    std::string errorText = "untouched";
    DownloadJob job = LoopbackJob(port, object, outputPath, errorText);
    job.secure = secure;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> console(std::tmpfile(), &std::fclose);
    DownloadEnvironment environment;
    environment.session = settings;
    environment.console = console.get();
    const std::int32_t result = DownloadFile(job, environment);
    return {result, errorText};
}

SessionSettings TrustingTestCa() {
    SessionSettings settings;
    settings.caFile = KORRIN_TEST_DATA "/tls/ca.pem";
    return settings;
}

}  // namespace korrin::test
