#pragma once

#include "engine/mutex.h"
#include "engine/work_unit.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <vector>

namespace orlenta {

// Where the threads of the parallel run meet: the batches of sources handed out to be opened
// ahead, the units in flight in text order with the stage each has reached, and whose turn it
// is in each shard of the set. Its mutex orders every hand-over of work; every other piece
// works outside it on what the board handed it (engine/work_unit.h says who owns what in each
// stage), and only the count of descriptors has a lock of its own (engine/descriptor_budget.h).
// Every wait also ends when the run is stopping, after a failure on any thread.
//
// Threads: the planner offers batches, takes them back in order once opened and submits units;
// the workers take tasks (open a batch, scan a unit, take a unit into one shard) and report
// them done; the calling thread takes the units in order once every shard has taken them, and
// gives them back to be reused.
class WorkBoard final {
public:
    // `shards`: parts of the set of addresses; `maxUnitsInFlight`: units submitted and not yet
    // handed on, at most.
    // `setBudget`: what the shards of the set may hold together before the set is frozen
    // (SIZE_MAX: no limit).
    WorkBoard(std::size_t shards, std::size_t maxUnitsInFlight,
              std::size_t setBudget = static_cast<std::size_t>(-1));

    // --- the planner ----------------------------------------------------------------------

    void offerBatch(std::shared_ptr<OpenBatch> batch) EXCLUDES(mutex_);

    // The oldest batch offered, once opened. When no worker has taken it yet, `openIt` is set
    // and the planner opens it itself, then calls batchOpened. Null when stopping.
    std::shared_ptr<OpenBatch> frontBatch(bool& openIt) EXCLUDES(mutex_);

    // The planner is done with the oldest batch.
    void dropFrontBatch() EXCLUDES(mutex_);

    // Every batch offered and opened, once none is being opened; the planner may then close
    // the sources they hold. Empty when stopping.
    std::vector<std::shared_ptr<OpenBatch>> openedBatches() EXCLUDES(mutex_);

    // A unit to fill: one handed on before (its memory is reused), or null.
    std::unique_ptr<Unit> spareUnit() EXCLUDES(mutex_);

    // Puts the unit in line behind the others, once fewer than the most are in flight. False
    // when stopping (the unit is dropped).
    bool submit(std::unique_ptr<Unit> unit) EXCLUDES(mutex_);

    // Every unit is submitted.
    void planned() EXCLUDES(mutex_);

    // --- the workers ----------------------------------------------------------------------

    struct Task {
        enum class Kind { OpenBatch, Scan, Shard, Finished };
        Kind kind = Kind::Finished;
        OpenBatch* batch = nullptr;  // OpenBatch
        Unit* unit = nullptr;        // Scan, Shard
        std::size_t shard = 0;       // Shard: file the unit's addresses into this shard
        bool frozen = false;         // Shard: the set is frozen from this unit on
    };

    // The next task, waiting for one: opening comes first (the planner waits for it), then a
    // shard's next unit (the calling thread waits for those), then a unit to scan. Finished once
    // everything is planned and taken by every shard, or when stopping. `worker` only spreads
    // the workers over the shards.
    Task nextTask(std::size_t worker) EXCLUDES(mutex_);

    void batchOpened(const OpenBatch& batch) EXCLUDES(mutex_);
    void scanned(const Unit& unit) EXCLUDES(mutex_);
    // `memoryPeak`: what the shard may hold once it has taken its next unit or so
    // (SeenEmails::memoryPeakAfter). Once the shards' sum passes the set's budget, the set is
    // frozen for every shard from the first unit that no shard has begun to take: a unit is
    // either taken into every shard or only looked up in every one.
    void shardTook(std::size_t shard, std::size_t memoryPeak) EXCLUDES(mutex_);

    // --- the calling thread -----------------------------------------------------------------

    // The next unit in text order once every shard has taken it; null at the end, or when
    // stopping.
    std::unique_ptr<Unit> nextInOrder() EXCLUDES(mutex_);

    void giveBack(std::unique_ptr<Unit> unit) EXCLUDES(mutex_);

    // --- any thread ------------------------------------------------------------------------

    // Stops the run after a failure: every wait ends, no task is handed out. The first failure
    // is kept for failure().
    void fail(std::exception_ptr failure) EXCLUDES(mutex_);
    bool stopping() const EXCLUDES(mutex_);
    std::exception_ptr failure() const EXCLUDES(mutex_);

private:
    enum class BatchState { Waiting, Opening, Opened };
    struct BatchSlot {
        std::shared_ptr<OpenBatch> batch;
        BatchState state = BatchState::Waiting;
    };
    enum class UnitState { Waiting, Scanning, Scanned };
    struct UnitSlot {
        std::unique_ptr<Unit> unit;
        UnitState state = UnitState::Waiting;
        std::size_t shardsLeft = 0;  // shards that have not taken it yet
    };
    struct ShardTurn {
        std::uint64_t nextUnit = 0;  // the sequence of the next unit it takes
        bool busy = false;           // a worker is taking a unit into it
    };

    // Predicates: they only read.
    const BatchSlot* batchToOpen() const REQUIRES(mutex_);
    bool shardReady(std::size_t shard) const REQUIRES(mutex_);
    std::size_t readyShard(std::size_t worker) const REQUIRES(mutex_);  // shards_.size(): none
    const UnitSlot* unitToScan() const REQUIRES(mutex_);
    bool allTaken() const REQUIRES(mutex_);
    bool hasTask(std::size_t worker) const REQUIRES(mutex_);
    bool frontHandedOn() const REQUIRES(mutex_);
    BatchSlot& slotOf(const OpenBatch& batch) REQUIRES(mutex_);
    UnitSlot& slotOf(std::uint64_t sequence) REQUIRES(mutex_);

    const std::size_t maxUnitsInFlight_;

    mutable Mutex mutex_;
    std::condition_variable workReady_;    // the workers wait on it
    std::condition_variable unitDone_;     // the calling thread waits on it
    std::condition_variable room_;         // the planner waits on it for room for a unit
    std::condition_variable batchOpened_;  // the planner waits on it for a batch

    std::deque<BatchSlot> batches_ GUARDED_BY(mutex_);    // offered, not yet planned, in order
    std::deque<UnitSlot> inFlight_ GUARDED_BY(mutex_);    // submitted, not handed on, in order
    std::uint64_t firstInFlight_ GUARDED_BY(mutex_) = 0;  // the sequence of inFlight_.front()
    std::uint64_t nextSequence_ GUARDED_BY(mutex_) = 0;
    std::vector<ShardTurn> shards_ GUARDED_BY(mutex_);
    const std::size_t setBudget_;
    std::vector<std::size_t> shardPeaks_ GUARDED_BY(mutex_);  // the last memoryPeak of each
    std::uint64_t frozenFrom_ GUARDED_BY(mutex_) = static_cast<std::uint64_t>(-1);
    std::vector<std::unique_ptr<Unit>> spareUnits_ GUARDED_BY(mutex_);
    bool planned_ GUARDED_BY(mutex_) = false;
    bool stopping_ GUARDED_BY(mutex_) = false;
    std::exception_ptr failure_ GUARDED_BY(mutex_);
};

}  // namespace orlenta
