#pragma once

#include "engine/descriptor_budget.h"
#include "engine/extraction_run.h"
#include "engine/parallel_run.h"
#include "engine/work_board.h"
#include "engine/work_unit.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orlenta {

// The parallel run's planner: takes the sources in order and cuts them into work units of
// about 1 MB (many small files, or a part of a large one, read later with pread by the
// workers; streams it reads itself), which it submits to the board in text order.
//
// Regular files are opened ahead of their turn, in batches, by the workers (open(), on any
// thread, several at once) or by the planner when it gets to a batch first; a small file is
// read whole at once and closed. A source that may not be opened ahead (a stream: its writer
// may be waiting for an earlier source to be read, and two names may stand for one stream), or
// that found no descriptor free, is opened by the planner at its turn. When even that open finds
// no descriptor, the planner sends its unit on, closes what was opened ahead, and waits for the
// files in flight to be read and closed, down to one source open at a time; only when the run
// holds none does the source fail with the system's reason.
//
// Threads: run() on the planner thread, which alone owns the fields below; open() on any.
class SourcePlanner final {
public:
    SourcePlanner(std::size_t count, const SourceOpener& openAt, const AheadOpener& openAhead,
                  WorkBoard& board, DescriptorBudget& budget, std::size_t mostAhead);

    void run();

    // Opens the sources of a batch offered to the board.
    void open(OpenBatch& batch) const;

private:
    void planSource(const std::shared_ptr<OpenBatch>& batch, std::size_t index);
    void offerBatchesUpTo(std::size_t index);
    ChunkReader openAtItsTurn(std::size_t index, DescriptorBudget::Claim& claim);
    void closeOpenedAhead(std::size_t index);
    void planFile(OpenRegularFile file, DescriptorBudget::Claim claim, const std::string& name);
    void planStream(ChunkReader& reader);
    void planMember(ChunkReader& reader);
    void addPiece(Piece piece);
    void flush();
    // A unit to fill: a spare one handed back, or a new one.
    std::unique_ptr<Unit> freshUnit();

    const std::size_t count_;
    const SourceOpener& openAt_;
    const AheadOpener& openAhead_;
    WorkBoard& board_;
    DescriptorBudget& budget_;
    const std::size_t mostAhead_;  // sources offered to be opened ahead of the planner at most

    std::size_t nextToOffer_ = 0;    // the first source not offered to be opened
    std::unique_ptr<Unit> pending_;  // the unit being filled
    std::size_t pendingBytes_ = 0;
    std::size_t bufferUsed_ = 0;        // bytes of the pending unit's buffer filled
    bool startingSource_ = false;       // the next piece is its source's first
    std::uint64_t sourcesStarted_ = 0;  // sources and members in the units submitted
    std::uint64_t sourceBytes_ = 0;     // of the last of them, in the units submitted
};

}  // namespace orlenta
