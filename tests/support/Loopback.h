#pragma once

#include <cstdint>
#include <string>

#include "transfer/DownloadJob.h"

namespace korrin::test {

// A port on 127.0.0.1 that refuses connections for as long as the object lives: bound, so that
// nothing else takes it, but not listening.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    std::uint16_t Port() const { return port; }
    std::string Url(const std::string& path = "/f") const;

private:
    int fd = -1;
    std::uint16_t port = 0;
};

// A job for object on 127.0.0.1:port, written to outputPath (empty: standard output), with its
// error text in errorText and the program's agent text.
DownloadJob LoopbackJob(std::uint16_t port, const std::string& object,
                        const std::string& outputPath, std::string& errorText);

}  // namespace korrin::test
