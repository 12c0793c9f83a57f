#pragma once

#include "engine/extraction_run.h"

#include <cstddef>

namespace orlenta {

// The processors this process may run on (its affinity mask), at least 1.
unsigned AvailableProcessors();

// RunExtractionFrom with reading, scanning and de-duplication spread over `threads` worker
// threads. The sink gets exactly the calls the one-thread run gives it, in the same order and
// on the calling thread: the same chunks, the same addresses with the same first spellings,
// the same skipped sources at the same places. Of its yields only BeforeFile is asked (for a
// progress count), and its answer is not heeded: the run cannot be stopped. It is for
// orlenta-extract, not for the window.
//
// `openAt` is called once per source, on the worker threads, several at a time: the sources
// are opened ahead of their reading, at most a few hundred per thread and half the descriptors
// the process may open.
//
// How: workers open the sources in batches, reading a small file whole at once. One thread
// takes the opened sources in order and cuts them into work units of about 1 MB (many small
// files, or a part of a large one, read later with pread by the workers; streams it reads
// itself). Workers read a unit into a buffer of their own, find its addresses chunk by chunk,
// and sort them into shards of the set by hash: every spelling of one address falls into one
// shard. Each shard belongs to one worker and takes the units strictly in order, so the first
// spelling it meets is the first in the text. The calling thread hands the units' new
// addresses on in order. Memory holds the set and a few units per thread, whatever the sizes
// of the sources.
RunResult RunExtractionInParallel(std::size_t count, const SourceOpener& openAt, RunSink& sink,
                                  unsigned threads, LoneLf loneLf = LoneLf::Ordinary);

}  // namespace orlenta
