#include "transfer/ProgressMeter.h"

#include <utility>

namespace korrin {

ProgressMeter::ProgressMeter(Clock clock, std::FILE* out) : clock(std::move(clock)), out(out) {}

void ProgressMeter::Start() {
    startTime = clock();
    fraction = 0;
    lastElapsed = 0;
    secondsLeft = 0;
}

void ProgressMeter::Update(std::int64_t /*n*/, std::int64_t bytesSoFar, std::int64_t contentLength) {
    if (contentLength <= 0) return;
    fraction = static_cast<double>(bytesSoFar) / static_cast<double>(contentLength);
    int cells = static_cast<int>(barWidth * fraction);
    if (cells > barWidth) cells = barWidth;
    if (cells < 0) cells = 0;
    const std::int64_t elapsed = clock() - startTime;
    if (elapsed > lastElapsed) {
        lastElapsed = elapsed;
        const double rate = static_cast<double>(bytesSoFar) / static_cast<double>(lastElapsed);
        secondsLeft = static_cast<std::int64_t>(static_cast<double>(contentLength - bytesSoFar) / rate);
    }
    std::fprintf(out, "\r%3d%% [", static_cast<int>(fraction * 100.0f));
    for (int i = 0; i < cells; ++i) std::fputs(">", out);
    for (int i = cells; i < barWidth; ++i) std::fputs(".", out);
    std::fputs("]", out);
    if (secondsLeft > 0) {
        std::fprintf(out, "   Time remaining: %02lld:%02lld", static_cast<long long>(secondsLeft / 60),
                     static_cast<long long>(secondsLeft % 60));
    }
    std::fflush(out);
}

void ProgressMeter::Complete() {
    std::fputs("\r100% [", out);
    for (int i = 0; i < barWidth; ++i) std::fputs(">", out);
    std::fputs("]                                  \n", out);
    std::fflush(out);
}

void ProgressMeter::Interrupt() {
    std::fputs("\n", out);
    std::fflush(out);
}

}  // namespace korrin
