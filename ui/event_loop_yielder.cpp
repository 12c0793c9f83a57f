#include "event_loop_yielder.h"

#include <algorithm>

namespace orlenta {

EventLoopYielder::EventLoopYielder(EventLoop& loop, Clock::duration interval)
    : loop_(loop), interval_(interval) {}

bool EventLoopYielder::yield() {
    if (stopRequested_) {
        return false;
    }
    const Clock::time_point start = loop_.now();
    if (processCount_ > 0 && start - lastHandled_ < interval_) {
        return true;
    }
    if (measuring_) {
        longestStall_ = std::max(longestStall_, start - lastHandled_);
    }
    // Set before handling as well, so that a long operation started from inside this call
    // (its own yields nest here) waits its turn like any other caller.
    lastHandled_ = start;
    ++processCount_;
    loop_.processEvents();
    lastHandled_ = loop_.now();
    measuring_ = true;
    return !stopRequested_;
}

void EventLoopYielder::resetMeasurement() {
    longestStall_ = {};
    measuring_ = false;
    processCount_ = 0;
}

}  // namespace orlenta
