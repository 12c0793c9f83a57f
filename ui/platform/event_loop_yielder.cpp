#include "ui/platform/event_loop_yielder.h"

#include <algorithm>

namespace orlenta {

EventLoopYielder::EventLoopYielder(EventLoop& loop)
    : loop_(loop), pacing_(loop.pacing()), interval_(pacing_.minInterval) {}

bool EventLoopYielder::yieldFrequent(const std::function<void()>& beforeTurn) {
    if (stopRequested_) {
        return false;
    }
    if (--frequentUntilClock_ > 0) {
        return true;
    }
    return yield(beforeTurn);
}

bool EventLoopYielder::yield(const std::function<void()>& beforeTurn) {
    if (stopRequested_) {
        return false;
    }
    frequentUntilClock_ = pacing_.frequentCallsPerClockRead;
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
    if (beforeTurn) {
        beforeTurn();
    }
    loop_.processEvents();
    lastHandled_ = loop_.now();
    interval_ = std::clamp((lastHandled_ - start) * pacing_.workPerTurn, pacing_.minInterval,
                           pacing_.maxInterval);
    measuring_ = true;
    return !stopRequested_;
}

void EventLoopYielder::resetMeasurement() {
    longestStall_ = {};
    measuring_ = false;
    processCount_ = 0;
}

}  // namespace orlenta
