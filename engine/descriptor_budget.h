#pragma once

#include "engine/mutex.h"

#include <condition_variable>
#include <cstddef>

namespace orlenta {

// How many file descriptors the parallel run may hold at once, and how many it holds. The
// budget starts as what is really free when the run starts (the soft limit less the
// descriptors already open, less a few for the rest of the process) and shrinks to what the run
// held whenever an open fails for want of descriptors, so the run adapts to the limit it finds,
// down to one source open at a time.
//
// Threads: workers claim descriptors to open sources ahead (tryClaimAhead); the planner claims
// one for the source whose turn it is (claim), and after an open at its turn failed for want of
// descriptors, waits for the run's own to be given back (waitBelow); any thread gives one back
// by dropping its Claim. stop() wakes every wait.
class DescriptorBudget final {
public:
    // One descriptor held by the run; given back when the Claim goes (or on release()).
    class Claim final {
    public:
        Claim() = default;
        ~Claim() { release(); }
        Claim(Claim&& other) noexcept : budget_(other.budget_) { other.budget_ = nullptr; }
        Claim& operator=(Claim&& other) noexcept;
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;

        explicit operator bool() const { return budget_ != nullptr; }
        void release();

    private:
        friend class DescriptorBudget;
        explicit Claim(DescriptorBudget* budget) : budget_(budget) {}
        DescriptorBudget* budget_ = nullptr;
    };

    // `most`: the budget never exceeds it, however high the limit.
    explicit DescriptorBudget(std::size_t most);

    // One descriptor for a source opened ahead of its turn, when the run holds less than the
    // budget less one (that one is kept for the planner's turn); an empty Claim otherwise.
    Claim tryClaimAhead() EXCLUDES(mutex_);

    // One descriptor for the source whose turn it is, whatever the budget: the open itself
    // tells whether there is one.
    Claim claim() EXCLUDES(mutex_);

    // An open failed with EMFILE or ENFILE and its claim is given back: the budget becomes what
    // the run holds now (at least 1). After a failure at a source's turn, nothing is opened
    // ahead any more: the planner then waits for the run's descriptors to be given back, and
    // only the files in flight hold any. Returns what the run holds.
    enum class FailedOpen { Ahead, AtItsTurn };
    std::size_t outOfDescriptors(FailedOpen where) EXCLUDES(mutex_);

    // Waits until the run holds fewer than `held` descriptors, or stopping.
    void waitBelow(std::size_t held) EXCLUDES(mutex_);

    void stop() EXCLUDES(mutex_);

    std::size_t held() const EXCLUDES(mutex_);

private:
    void giveBack() EXCLUDES(mutex_);

    mutable Mutex mutex_;
    std::condition_variable changed_;  // a descriptor given back, the budget changed, stopping
    std::size_t budget_ GUARDED_BY(mutex_);
    std::size_t held_ GUARDED_BY(mutex_) = 0;
    bool aheadRefused_ GUARDED_BY(mutex_) = false;
    bool stopping_ GUARDED_BY(mutex_) = false;
};

}  // namespace orlenta
