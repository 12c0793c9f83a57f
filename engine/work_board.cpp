#include "engine/work_board.h"

#include <algorithm>
#include <utility>

namespace orlenta {

WorkBoard::WorkBoard(std::size_t shards, std::size_t maxUnitsInFlight, std::size_t setBudget)
    : maxUnitsInFlight_(maxUnitsInFlight), setBudget_(setBudget) {
    MutexLock lock(mutex_);
    shards_.resize(shards);
    shardPeaks_.assign(shards, 0);
}

// --- the planner ------------------------------------------------------------------------

void WorkBoard::offerBatch(std::shared_ptr<OpenBatch> batch) {
    MutexLock lock(mutex_);
    batches_.push_back(BatchSlot{std::move(batch), BatchState::Waiting});
    workReady_.notify_one();
}

std::shared_ptr<OpenBatch> WorkBoard::frontBatch(bool& openIt) {
    MutexLock lock(mutex_);
    openIt = false;
    if (stopping_ || batches_.empty()) {
        return nullptr;
    }
    BatchSlot& front = batches_.front();
    if (front.state == BatchState::Waiting) {
        front.state = BatchState::Opening;
        openIt = true;
        return front.batch;
    }
    while (!stopping_ && front.state != BatchState::Opened) {
        lock.wait(batchOpened_);
    }
    return stopping_ ? nullptr : front.batch;
}

void WorkBoard::dropFrontBatch() {
    MutexLock lock(mutex_);
    batches_.pop_front();
}

std::vector<std::shared_ptr<OpenBatch>> WorkBoard::openedBatches() {
    MutexLock lock(mutex_);
    const auto opening = [this]() REQUIRES(mutex_) {
        return std::any_of(batches_.begin(), batches_.end(),
                           [](const BatchSlot& slot) { return slot.state == BatchState::Opening; });
    };
    while (!stopping_ && opening()) {
        lock.wait(batchOpened_);
    }
    std::vector<std::shared_ptr<OpenBatch>> opened;
    for (const BatchSlot& slot : batches_) {
        if (!stopping_ && slot.state == BatchState::Opened) {
            opened.push_back(slot.batch);
        }
    }
    return opened;
}

std::unique_ptr<Unit> WorkBoard::spareUnit() {
    MutexLock lock(mutex_);
    if (spareUnits_.empty()) {
        return nullptr;
    }
    std::unique_ptr<Unit> unit = std::move(spareUnits_.back());
    spareUnits_.pop_back();
    return unit;
}

bool WorkBoard::submit(std::unique_ptr<Unit> unit) {
    MutexLock lock(mutex_);
    while (!stopping_ && inFlight_.size() >= maxUnitsInFlight_) {
        lock.wait(room_);
    }
    if (stopping_) {
        return false;
    }
    unit->sequence = nextSequence_++;
    inFlight_.push_back(UnitSlot{std::move(unit), UnitState::Waiting, shards_.size()});
    workReady_.notify_one();
    return true;
}

void WorkBoard::planned() {
    MutexLock lock(mutex_);
    planned_ = true;
    workReady_.notify_all();
    unitDone_.notify_all();
}

// --- the workers --------------------------------------------------------------------------

const WorkBoard::BatchSlot* WorkBoard::batchToOpen() const {
    for (const BatchSlot& slot : batches_) {
        if (slot.state == BatchState::Waiting) {
            return &slot;
        }
    }
    return nullptr;
}

bool WorkBoard::shardReady(std::size_t shard) const {
    const ShardTurn& turn = shards_[shard];
    if (turn.busy || turn.nextUnit == nextSequence_) {
        return false;
    }
    // Every unit before it has been taken by this shard, so every earlier part of its files
    // has been read, and the unit's dropped pieces are known.
    const UnitSlot& slot = inFlight_[static_cast<std::size_t>(turn.nextUnit - firstInFlight_)];
    return slot.state == UnitState::Scanned;
}

std::size_t WorkBoard::readyShard(std::size_t worker) const {
    const std::size_t shards = shards_.size();
    for (std::size_t i = 0; i < shards; ++i) {
        const std::size_t shard = (worker + i) % shards;
        if (shardReady(shard)) {
            return shard;
        }
    }
    return shards;
}

const WorkBoard::UnitSlot* WorkBoard::unitToScan() const {
    for (const UnitSlot& slot : inFlight_) {
        if (slot.state == UnitState::Waiting) {
            return &slot;
        }
    }
    return nullptr;
}

bool WorkBoard::allTaken() const {
    return planned_ && std::all_of(shards_.begin(), shards_.end(),
                                   [this](const ShardTurn& turn)
                                       REQUIRES(mutex_) { return turn.nextUnit == nextSequence_; });
}

bool WorkBoard::hasTask(std::size_t worker) const {
    return stopping_ || batchToOpen() != nullptr || readyShard(worker) < shards_.size() ||
           unitToScan() != nullptr || allTaken();
}

WorkBoard::BatchSlot& WorkBoard::slotOf(const OpenBatch& batch) {
    return *std::find_if(batches_.begin(), batches_.end(),
                         [&batch](const BatchSlot& slot) { return slot.batch.get() == &batch; });
}

WorkBoard::UnitSlot& WorkBoard::slotOf(std::uint64_t sequence) {
    return inFlight_[static_cast<std::size_t>(sequence - firstInFlight_)];
}

WorkBoard::Task WorkBoard::nextTask(std::size_t worker) {
    MutexLock lock(mutex_);
    while (!hasTask(worker)) {
        lock.wait(workReady_);
    }
    Task task;
    if (stopping_) {
        return task;
    }
    if (const BatchSlot* slot = batchToOpen()) {
        BatchSlot& taken = slotOf(*slot->batch);
        taken.state = BatchState::Opening;
        task.kind = Task::Kind::OpenBatch;
        task.batch = taken.batch.get();
        return task;
    }
    const std::size_t shard = readyShard(worker);
    if (shard < shards_.size()) {
        shards_[shard].busy = true;
        task.kind = Task::Kind::Shard;
        task.unit = slotOf(shards_[shard].nextUnit).unit.get();
        task.shard = shard;
        task.frozen = shards_[shard].nextUnit >= frozenFrom_;
        return task;
    }
    if (const UnitSlot* slot = unitToScan()) {
        UnitSlot& taken = slotOf(slot->unit->sequence);
        taken.state = UnitState::Scanning;
        task.kind = Task::Kind::Scan;
        task.unit = taken.unit.get();
        return task;
    }
    return task;  // all taken
}

void WorkBoard::batchOpened(const OpenBatch& batch) {
    MutexLock lock(mutex_);
    slotOf(batch).state = BatchState::Opened;
    batchOpened_.notify_all();
}

void WorkBoard::scanned(const Unit& unit) {
    MutexLock lock(mutex_);
    slotOf(unit.sequence).state = UnitState::Scanned;
    workReady_.notify_all();  // shards may take it
}

void WorkBoard::shardTook(std::size_t shard, std::size_t memoryPeak) {
    MutexLock lock(mutex_);
    ShardTurn& turn = shards_[shard];
    UnitSlot& slot = slotOf(turn.nextUnit);
    turn.busy = false;
    ++turn.nextUnit;
    shardPeaks_[shard] = memoryPeak;
    if (frozenFrom_ == static_cast<std::uint64_t>(-1) &&
        setBudget_ != static_cast<std::size_t>(-1)) {
        std::size_t sum = 0;
        for (const std::size_t peak : shardPeaks_) {
            sum += peak;
        }
        if (sum > setBudget_) {
            // Past every unit a shard has begun: those are taken into the set everywhere.
            std::uint64_t from = 0;
            for (const ShardTurn& other : shards_) {
                from = std::max(from, other.nextUnit + (other.busy ? 1 : 0));
            }
            frozenFrom_ = from;
        }
    }
    if (--slot.shardsLeft == 0 && slot.unit->sequence == firstInFlight_) {
        unitDone_.notify_all();
    }
    if (allTaken()) {
        workReady_.notify_all();  // the workers may end
    } else if (shardReady(shard)) {
        workReady_.notify_one();
    }
}

// --- the calling thread -------------------------------------------------------------------

bool WorkBoard::frontHandedOn() const {
    return !inFlight_.empty() && inFlight_.front().shardsLeft == 0;
}

std::unique_ptr<Unit> WorkBoard::nextInOrder() {
    MutexLock lock(mutex_);
    while (!stopping_ && !frontHandedOn() && !(planned_ && inFlight_.empty())) {
        lock.wait(unitDone_);
    }
    if (stopping_ || inFlight_.empty()) {
        return nullptr;
    }
    std::unique_ptr<Unit> unit = std::move(inFlight_.front().unit);
    inFlight_.pop_front();
    ++firstInFlight_;
    room_.notify_all();
    return unit;
}

void WorkBoard::giveBack(std::unique_ptr<Unit> unit) {
    MutexLock lock(mutex_);
    spareUnits_.push_back(std::move(unit));
}

// --- any thread ---------------------------------------------------------------------------

void WorkBoard::fail(std::exception_ptr failure) {
    MutexLock lock(mutex_);
    if (!failure_) {
        failure_ = std::move(failure);
    }
    stopping_ = true;
    workReady_.notify_all();
    unitDone_.notify_all();
    room_.notify_all();
    batchOpened_.notify_all();
}

bool WorkBoard::stopping() const {
    MutexLock lock(mutex_);
    return stopping_;
}

std::exception_ptr WorkBoard::failure() const {
    MutexLock lock(mutex_);
    return failure_;
}

}  // namespace orlenta
