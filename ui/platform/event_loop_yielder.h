#pragma once

#include "ui/platform/platform.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace orlenta {

// Hands control to the event loop in the middle of long work on the UI thread (the extraction
// run, the folder scan, the comma-delimited save), so that the window repaints and answers
// input, closing included. yield() is cheap enough to call for every token: the pending events
// are handled only when they are due, so a caller that yields often keeps the window served
// every few milliseconds without spending its time in the event loop.
//
// When events are due (YieldPacing): at least `minInterval` after the last turn of the event
// loop, longer when a turn is costly (a list of a million rows takes a while to lay out again),
// so that the work gets `workPerTurn` times the time of a turn, but never more than
// `maxInterval`: the window always answers within that plus one turn.
//
// Closing the window calls requestStop(): from then on every yield() returns false at once,
// and each long loop ends at its next yield.
class EventLoopYielder final {
public:
    using Clock = EventLoop::Clock;

    // Paced as `loop` asks (EventLoop::pacing()).
    explicit EventLoopYielder(EventLoop& loop);

    // Handles the pending events if they are due. `beforeTurn`, when given, runs just before
    // they are handled: work that batches its output publishes it there, so that the window
    // (and every handler that runs in this turn) sees everything done so far. False when the
    // work should stop.
    bool yield(const std::function<void()>& beforeTurn = {});

    // The same for calls made many times a millisecond, each before a small piece of work
    // (one token, one address): only one in `frequentCallsPerClockRead` reads the clock.
    bool yieldFrequent(const std::function<void()>& beforeTurn = {});

    void requestStop() { stopRequested_ = true; }
    bool stopRequested() const { return stopRequested_; }

    // The longest time the event loop went unserved between two turns since the last
    // resetMeasurement(): from the end of one processEvents call to the start of the next.
    Clock::duration longestStall() const { return longestStall_; }
    std::uint64_t processCount() const { return processCount_; }
    void resetMeasurement();

private:
    EventLoop& loop_;
    YieldPacing pacing_;
    Clock::duration interval_;
    Clock::time_point lastHandled_{};
    int frequentUntilClock_ = 0;
    bool measuring_ = false;
    bool stopRequested_ = false;
    Clock::duration longestStall_{};
    std::uint64_t processCount_ = 0;
};

}  // namespace orlenta
