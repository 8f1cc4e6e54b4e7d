#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>

#include "webaccess/StallLimit.h"

namespace korrin {
namespace {

using namespace std::chrono_literals;
using Clock = StallLimit::Clock;

// One event at a time after the start, in milliseconds.
struct Event {
    enum Kind { connecting, requestSent, heard } kind;
    int at;
};

struct Case {
    const char* name;
    std::initializer_list<Event> events;
    int now;        // when the limit is looked at
    bool expired;   // with a limit of 1000 ms
    int waitBound;  // StallLimit::WaitBound(now, 500 ms)
};

TEST(StallLimit, CountsSilenceOnlyWhileARequestWaits) {
    const Case cases[] = {
        {"NothingSentYet", {}, 5000, false, 500},
        {"SilentSinceTheRequest", {{Event::requestSent, 0}}, 1000, true, 0},
        {"JustBeforeTheLimit", {{Event::requestSent, 0}}, 999, false, 1},
        {"BoundedByTheCap", {{Event::requestSent, 0}}, 200, false, 500},
        {"HeardRestartsTheSilence",
         {{Event::requestSent, 0}, {Event::heard, 800}},
         1700,
         false,
         100},
        {"SilentAfterHearing", {{Event::requestSent, 0}, {Event::heard, 800}}, 1800, true, 0},
        // A new connection stops the limit, however long connecting lasts...
        {"Connecting", {{Event::requestSent, 0}, {Event::connecting, 500}}, 9000, false, 500},
        // ...and the request on it starts the silence afresh.
        {"RequestOnTheNewConnection",
         {{Event::requestSent, 0}, {Event::connecting, 500}, {Event::requestSent, 8000}},
         8999,
         false,
         1},
        {"SilentOnTheNewConnection",
         {{Event::requestSent, 0}, {Event::connecting, 500}, {Event::requestSent, 8000}},
         9000,
         true,
         0},
        // Bytes heard while connecting do not start the limit.
        {"HeardWhileConnecting", {{Event::connecting, 0}, {Event::heard, 100}}, 5000, false, 500},
    };
    const Clock::time_point start{};
    for (const Case& c : cases) {
        StallLimit limit(1000ms);
        for (const Event& event : c.events) {
            const Clock::time_point at = start + std::chrono::milliseconds(event.at);
            switch (event.kind) {
                case Event::connecting:
                    limit.Connecting();
                    break;
                case Event::requestSent:
                    limit.RequestSent(at);
                    break;
                case Event::heard:
                    limit.Heard(at);
                    break;
            }
        }
        const Clock::time_point now = start + std::chrono::milliseconds(c.now);
        EXPECT_EQ(limit.Expired(now), c.expired) << c.name;
        EXPECT_EQ(limit.WaitBound(now, 500ms), std::chrono::milliseconds(c.waitBound)) << c.name;
    }
}

}  // namespace
}  // namespace korrin
