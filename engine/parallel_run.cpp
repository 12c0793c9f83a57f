#include "engine/parallel_run.h"

#include "engine/address_shards.h"
#include "engine/address_spill.h"
#include "engine/descriptor_budget.h"
#include "engine/source_planner.h"
#include "engine/unit_scan.h"
#include "engine/work_board.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <future>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace orlenta {

namespace {

std::atomic<std::size_t> threadStartsLeft{std::numeric_limits<std::size_t>::max()};

// Descriptors the run holds at most, however high the limit.
constexpr std::size_t MostDescriptors = 1024;

// Sources offered to be opened ahead of the planner at most: enough to keep every worker busy
// over a folder of small files, whose bytes wait in memory for their turn.
constexpr std::size_t MostOpenAhead = 2048;

// Parts of the set: two per worker, 64 at most.
std::size_t ShardsFor(unsigned threads) {
    return std::min<std::size_t>(64, 2 * threads);
}

// The threads of one run and what they share. Threads: run() on the calling thread, which
// hands the units on; work() on each worker; plan() on the planner.
class ParallelRun final {
public:
    ParallelRun(std::size_t count, const SourceOpener& openAt, const AheadOpener& openAhead,
                RunSink& sink, unsigned threads, LoneLf loneLf, const MemoryBudget& budget)
        : memoryBudget_(budget),
          threads_(std::clamp(threads, 1u, MaxWorkerThreads)),
          loneLf_(loneLf),
          sink_(sink),
          occurrences_(sink.wantsOccurrences()),
          counting_(occurrences_ && sink.takesCounts()),
          budget_(MostDescriptors),
          // Enough for every worker to have one and the next ready, and not too much memory
          // for machines with many cores: 48 units are 46 MB.
          board_(ShardsFor(threads_),
                 std::max<std::size_t>(threads_ + 2, std::min<std::size_t>(3 * threads_ + 2, 48)),
                 AddressSpill::SetShareOf(budget)),
          shards_(ShardsFor(threads_), counting_),
          planner_(count, openAt, openAhead, board_, budget_,
                   std::min<std::size_t>(256 * threads_, MostOpenAhead)) {}

    // False when not one worker could start: nothing has been read then.
    bool run(RunResult& result) {
        // The planner starts first and waits to be told whether any worker could: until then
        // it has touched no source, and the run may still fall back to the calling thread.
        std::promise<bool> workersStarted;
        std::future<bool> mayPlan = workersStarted.get_future();
        std::vector<std::thread> planner;
        startThreads(planner, 1, [this, &mayPlan](std::size_t) {
            if (mayPlan.get()) {
                plan();
            }
        });
        if (planner.empty()) {
            return false;
        }
        std::vector<std::thread> workers;
        startThreads(workers, threads_, [this](std::size_t worker) { work(worker); });
        workersStarted.set_value(!workers.empty());
        if (workers.empty()) {
            joinAll(planner);
            return false;
        }
        try {
            handOn();
        } catch (...) {
            stop(std::current_exception());
        }
        joinAll(planner);
        joinAll(workers);
        if (const std::exception_ptr failure = board_.failure()) {
            std::rethrow_exception(failure);
        }
        if (counting_) {
            counts_.takeShards(shards_.takeCounts());
            sink_.countsFound(std::move(counts_));
        }
        if (spill_) {
            shards_.release();  // the frozen set makes room for the partitions' sets
            spill_->finish([this](std::string_view address) {
                sink_.addressFound(address);
                ++result_.addressesFound;
            });
            spill_.reset();
        }
        result = std::move(result_);
        return true;
    }

private:
    template <typename Body>
    static void startThreads(std::vector<std::thread>& threads, std::size_t count, Body body) {
        for (std::size_t i = 0; i < count; ++i) {
            try {
                CountThreadStart();
                threads.emplace_back(body, i);
            } catch (const std::system_error&) {
                return;  // the system's limit: fewer threads
            } catch (const std::bad_alloc&) {
                return;
            }
        }
    }

    static void joinAll(std::vector<std::thread>& threads) {
        for (std::thread& thread : threads) {
            thread.join();
        }
    }

    // Ends every wait of the run; `failure`, when there is one, is thrown again by run().
    void stop(std::exception_ptr failure) {
        board_.fail(std::move(failure));
        budget_.stop();
    }

    void plan() {
        try {
            planner_.run();
        } catch (...) {
            stop(std::current_exception());
        }
    }

    void work(std::size_t worker) {
        try {
            UnitScanner scanner(loneLf_, occurrences_);
            AddressShards::Scratch scratch;
            for (;;) {
                const WorkBoard::Task task = board_.nextTask(worker);
                switch (task.kind) {
                    case WorkBoard::Task::Kind::OpenBatch:
                        planner_.open(*task.batch);
                        board_.batchOpened(*task.batch);
                        break;
                    case WorkBoard::Task::Kind::Scan:
                        scanner.scan(*task.unit);
                        shards_.sortByShard(*task.unit);
                        board_.scanned(*task.unit);
                        break;
                    case WorkBoard::Task::Kind::Shard:
                        board_.shardTook(
                            task.shard, shards_.take(*task.unit, task.shard, scratch, task.frozen));
                        break;
                    case WorkBoard::Task::Kind::Finished:
                        return;
                }
            }
        } catch (...) {
            stop(std::current_exception());
        }
    }

    void handOn() {
        while (std::unique_ptr<Unit> unit = board_.nextInOrder()) {
            handOn(*unit);
            unit->clear();
            board_.giveBack(std::move(unit));
        }
    }

    void handOn(const Unit& unit) {
        for (const Piece& piece : unit.pieces) {
            if (piece.dropped()) {
                continue;
            }
            if (piece.startsSource) {
                sink_.yield(YieldPoint::BeforeFile);
            }
            if (occurrences_ && (piece.startsSource || piece.startsMember)) {
                sink_.sourceStarted(piece.name);
                sourceOffset_ = 0;
            }
            for (std::size_t c = piece.firstChunk; c < piece.firstChunk + piece.chunkCount; ++c) {
                sink_.chunkRead(
                    std::min(ChunkSize, piece.size - (c - piece.firstChunk) * ChunkSize));
                sink_.chunkScanned();
                const std::size_t first = c == 0 ? 0 : unit.chunkEnds[c - 1];
                if (occurrences_ && first < unit.chunkEnds[c]) {
                    // Past the freeze none is known to be new: the report looks each up.
                    // The shards counted all others when counting.
                    occurrenceList_.clear();
                    for (std::size_t i = first; i < unit.chunkEnds[c]; ++i) {
                        if (!counting_ || unit.isNew[i] == Unit::Spill) {
                            occurrenceList_.push_back(
                                Occurrence{unit.addresses[i], sourceOffset_ + unit.offsets[i],
                                           unit.hashes[i], unit.isNew[i] == Unit::New});
                        }
                    }
                    if (!occurrenceList_.empty()) {
                        sink_.occurrencesFound(occurrenceList_.data(), occurrenceList_.size());
                    }
                }
                for (std::size_t i = first; i < unit.chunkEnds[c]; ++i) {
                    if (unit.isNew[i] == Unit::New) {
                        if (counting_) {
                            counts_.rowMade(shards_.shardOf(unit.hashes[i]), piece.sourceNumber,
                                            piece.name);
                        }
                        sink_.addressFound(unit.addresses[i]);
                        ++result_.addressesFound;
                    } else if (unit.isNew[i] == Unit::Spill) {
                        // Every unit from the freeze on is all Seen or Spill: what the spill
                        // hands on at the end comes after everything handed on before.
                        if (!spill_) {
                            spill_ = std::make_unique<AddressSpill>(memoryBudget_);
                        }
                        spill_->add(unit.addresses[i], unit.hashes[i]);
                    }
                }
                sink_.chunkDone();
            }
            sourceOffset_ += piece.size;
            if (!piece.error.empty()) {
                result_.skipped.push_back({piece.name, piece.error});
                sink_.fileSkipped(piece.name, piece.error);
            } else if (piece.endsSource) {
                ++result_.filesRead;
            }
        }
    }

    const MemoryBudget memoryBudget_;
    const unsigned threads_;
    const LoneLf loneLf_;
    RunSink& sink_;
    const bool occurrences_;          // the sink wants every occurrence
    const bool counting_;             // and takes the shards' counts of them instead
    std::uint64_t sourceOffset_ = 0;  // where the piece being handed on starts in its source
    std::vector<Occurrence> occurrenceList_;  // a chunk's, for the sink
    // Declared before what holds claims on it (the units' files) and gone after them.
    DescriptorBudget budget_;
    WorkBoard board_;
    AddressShards shards_;
    SourcePlanner planner_;
    RunResult result_;                     // the calling thread's
    AddressCounts counts_;                 // the calling thread's, when counting
    std::unique_ptr<AddressSpill> spill_;  // the calling thread's, once the set is frozen
};

}  // namespace

void CountThreadStart() {
    std::size_t left = threadStartsLeft.load();
    while (left != std::numeric_limits<std::size_t>::max()) {
        if (left == 0) {
            throw std::system_error(EAGAIN, std::generic_category(), "thread start refused");
        }
        if (threadStartsLeft.compare_exchange_weak(left, left - 1)) {
            return;
        }
    }
}

void LimitThreadStartsForTests(std::size_t starts) {
    threadStartsLeft.store(starts);
}

unsigned AvailableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) {
            return static_cast<unsigned>(count);
        }
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

RunResult RunExtractionInParallel(std::size_t count, const SourceOpener& openAt, RunSink& sink,
                                  unsigned threads, LoneLf loneLf, const AheadOpener& openAhead,
                                  const MemoryBudget& budget) {
    RunResult result;
    {
        ParallelRun run(count, openAt, openAhead, sink, threads, loneLf, budget);
        if (run.run(result)) {
            return result;
        }
    }
    // Not one thread could start: the same run on this one.
    return RunExtractionFrom(count, openAt, sink, loneLf, budget);
}

}  // namespace orlenta
