#pragma once

#include <cstdint>
#include <string>

#include "webaccess/InternetSession.h"

namespace korrin::test {

// What a download run inside the test process ended with.
struct InProcessRun {
    std::int32_t result;    // DownloadFile's result: the status, or -1
    std::string errorText;  // the failure text, or what was there before
};

// Downloads object from 127.0.0.1:port (over TLS when secure) into outputPath by DownloadFile,
// inside the test process, with its console text thrown away: for failures that need settings
// only such a caller can give, such as a CA of the tests' own or short time-outs.
InProcessRun DownloadInProcess(std::uint16_t port, const std::string& object, bool secure,
                               const SessionSettings& settings, const std::string& outputPath);

// Settings that trust the tests' own CA, which signed the certificates of the TLS servers.
SessionSettings TrustingTestCa();

}  // namespace korrin::test
