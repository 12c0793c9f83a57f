#pragma once

#include "engine/extraction_run.h"

#include <cstddef>
#include <functional>
#include <optional>

namespace orlenta {

// The processors this process may run on (its affinity mask), at least 1.
unsigned AvailableProcessors();

// Opens source i ahead of its turn when it is a regular file, without ever waiting (a FIFO is
// refused, not waited for); nullopt leaves the source to `openAt` at its turn. A stream
// (standard input, a pipe or FIFO named as a path) must be left: its writer may wait for an
// earlier source to be read, and two names may stand for one stream. Called on several threads
// at once.
using AheadOpener = std::function<std::optional<ChunkReader>(std::size_t)>;

// For the tests: from now on, std::thread fails (as at the system's limit) once `starts` more
// threads of the engine (a parallel run's, the spill's writer) have started; SIZE_MAX lifts
// the limit.
void LimitThreadStartsForTests(std::size_t starts);

// Called before the engine starts a thread: throws std::system_error, as std::thread would at
// the system's limit, once the tests' limit is reached.
void CountThreadStart();

// Worker threads at most, whatever is asked: more only cost memory and descriptors.
inline constexpr unsigned MaxWorkerThreads = 64;

// RunExtractionFrom with reading, scanning and de-duplication spread over `threads` worker
// threads (at most MaxWorkerThreads). The sink gets exactly the calls the one-thread run gives
// it, in the same order and on the calling thread: the same chunks, the same addresses with the
// same first spellings, the same skipped sources at the same places. Of its yields only
// BeforeFile is asked (for a progress count), and its answer is not heeded: the run cannot be
// stopped. It is for orlenta-extract, not for the window.
//
// Sources are opened ahead of their reading by `openAhead` (by `openAt` when it is empty), as
// many as the free descriptors allow, down to one at a time; those it leaves by `openAt` at
// their turn. Either may be called on several threads at once.
//
// Resources: threads that cannot be started mean fewer workers (the same calls); when not one
// can start, the run is RunExtractionFrom on the calling thread. A failure on any thread (an
// exception: std::bad_alloc, or one the sink throws) stops the run: every thread is woken and
// joined, then the first exception is thrown again here. Only a thread inside a read of a
// stream finishes that read first.
//
// How (engine/work_board.h, source_planner.h, unit_scan.h, address_shards.h): a planner
// thread cuts the sources into work units of about 1 MB, in order. Workers read a unit into a
// buffer of their own, find its addresses chunk by chunk, and sort them into shards of the set
// by hash; each shard takes the units strictly in order, so the first spelling it meets is the
// first in the text. The calling thread hands the units' new addresses on in order. Memory
// holds the set and a few units per thread, whatever the sizes of the sources.
//
// With a `budget`, the set is frozen once its shards together would pass it, at the same unit
// for every shard; the addresses it lacks from there on go to a spill on the calling thread,
// in text order, and come at the end, as in RunExtractionFrom with a budget: the addressFound
// calls are the same as without one, for every thread count.
RunResult RunExtractionInParallel(std::size_t count, const SourceOpener& openAt, RunSink& sink,
                                  unsigned threads, LoneLf loneLf = LoneLf::Ordinary,
                                  const AheadOpener& openAhead = {},
                                  const MemoryBudget& budget = {});

}  // namespace orlenta
