#pragma once

#include "platform.h"

#include <chrono>
#include <cstdint>

namespace orlenta {

// Hands control to the event loop in the middle of long work on the UI thread (the extraction
// run, the folder scan, the comma-delimited save), so that the window repaints and answers
// input, closing included. yield() is cheap enough to call for every token: the pending events
// are handled only when `interval` has passed since they were last handled, so a caller that
// yields often keeps the window from waiting more than a few milliseconds without spending its
// time in the event loop.
//
// Closing the window calls requestStop(): from then on every yield() returns false at once,
// and each long loop ends at its next yield.
class EventLoopYielder final {
public:
    using Clock = EventLoop::Clock;
    static constexpr std::chrono::milliseconds DefaultInterval{5};

    explicit EventLoopYielder(EventLoop& loop, Clock::duration interval = DefaultInterval);

    // Handles the pending events if they are due. False when the work should stop.
    bool yield();

    void requestStop() { stopRequested_ = true; }
    bool stopRequested() const { return stopRequested_; }

    // The longest time the event loop went unserved between two handlings since the last
    // resetMeasurement(): from the end of one processEvents call to the start of the next.
    Clock::duration longestStall() const { return longestStall_; }
    std::uint64_t processCount() const { return processCount_; }
    void resetMeasurement();

private:
    EventLoop& loop_;
    Clock::duration interval_;
    Clock::time_point lastHandled_{};
    bool measuring_ = false;
    bool stopRequested_ = false;
    Clock::duration longestStall_{};
    std::uint64_t processCount_ = 0;
};

}  // namespace orlenta
