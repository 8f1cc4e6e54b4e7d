#include "webaccess/StallLimit.h"

#include <algorithm>

namespace korrin {

std::chrono::milliseconds StallLimit::WaitBound(Clock::time_point now,
                                                std::chrono::milliseconds cap) const {
    if (!watching) return cap;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastHeard + limit - now);
    return std::clamp(left, std::chrono::milliseconds(0), cap);
}

}  // namespace korrin
