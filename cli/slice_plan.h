#pragma once

#include "cli/input_list.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orlenta {

// One of the N slices of a run's input (orlenta-extract --slice K/N), so that N runs, on one
// machine or many, share the work and `--merge` puts their partial results together. The
// expanded, ordered input list is cut by cumulative size (the sizes stat() gives when the list
// is made) into N slices of about equal bytes. Cuts fall between sources, or inside a source
// larger than a slice at a multiple of ReadSize from its start, so the chunks and the reads of
// every file are those of one run over the whole list. A source of no size (an empty or
// missing file) belongs to the slice that holds its place in the list; a source that cannot be
// opened is named by the slice that holds its first byte only.
//
//   600 KB a.txt, 10 KB b.txt, 2 MB c.txt as --slice 2/3: c.txt from 360000 to 1080000
//   (a.txt and b.txt are the first slice's; 1080000 to the end of c.txt the third's).
struct SliceChoice {
    unsigned index = 1;  // K, from 1
    unsigned count = 1;  // N
};

// The sizes of the inputs, in bytes, or why the list cannot be cut: standard input and pipes
// have no size known before they are read. A path that cannot be looked at counts 0 bytes (its
// reader names it).
struct InputSizes {
    std::vector<std::uint64_t> sizes;
    std::string refusal;  // "standard input cannot be cut into slices: it has no size"
};
InputSizes SizesOfInputs(const std::vector<Input>& inputs);

// Where the N slices of a list of these sizes begin, in the bytes of the whole list: N + 1
// offsets from 0 to the total, never decreasing (a slice may be empty). With `wholeSources`
// every cut falls between sources: a packed file or a mail spool (--unpack, --mail) is read
// from its first byte or not at all.
std::vector<std::uint64_t> SliceBounds(const std::vector<std::uint64_t>& sizes, unsigned count,
                                       bool wholeSources = false);

struct SlicePlan {
    std::vector<Input> inputs;          // the slice's sources, in order, each with its range
    std::uint64_t sourcesStarting = 0;  // sources whose first byte (or place) is in the slice
    std::size_t firstInput = 0;         // the place of inputs[0] in the whole list (they follow on)
};
SlicePlan PlanSlice(const std::vector<Input>& inputs, const std::vector<std::uint64_t>& sizes,
                    SliceChoice choice, bool wholeSources = false);

// What the slices of one run must agree on, so a merge never joins slices of different runs:
// every source's kind, name and size, the folders that could not be walked, and the options
// that change the addresses found (`optionBits`, e.g. --lf and --all). SHA-256.
using InputFingerprint = std::array<unsigned char, 32>;
InputFingerprint FingerprintOf(const InputList& list, const std::vector<std::uint64_t>& sizes,
                               std::uint32_t optionBits);

}  // namespace orlenta
