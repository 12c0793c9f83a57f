// Where orlenta-extract's time goes on one file: the run is repeated with one more stage each
// time, and the best of several rounds is shown per stage, with the cost each stage adds.
//
//   orlenta_extract_stages_bench FILE [ROUNDS]
//
//   read       ChunkReader alone: the floor of reading the file through the page cache
//   find @     + memchr from "@" to "@" in every chunk
//   addresses  + FindAddresses: widening and validation, every address found
//   set        + ScanChunkForEmails instead: the same and the set of addresses met
//   collect    + the new addresses formatted as the list's bytes, as orlenta-extract does
//
// With -j N the reads, the finding and the set (in shards) are shared by the N workers; the
// collecting stays on one thread, as do the open and fstat of each file.
//
// The file should be in the page cache (read it once before); the machine otherwise idle.

#include "engine/chunk_reader.h"
#include "engine/chunk_scanner.h"
#include "engine/seen_emails.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

enum class Stage { Read, FindAt, FindAddresses, Scan, Collect };

struct Counts {
    std::size_t bytes = 0;
    std::size_t atSigns = 0;
    std::size_t newAddresses = 0;
    std::size_t outputBytes = 0;
};

Counts RunStage(const std::string& path, Stage stage) {
    Counts counts;
    orlenta::ChunkReader reader(path);
    orlenta::SeenEmails seen;
    std::vector<std::string_view> found;
    std::string output;
    std::string_view chunk;
    while (reader.next(chunk)) {
        counts.bytes += chunk.size();
        if (stage == Stage::FindAt) {
            const char* p = chunk.data();
            const char* const end = p + chunk.size();
            while ((p = static_cast<const char*>(std::memchr(p, '@', end - p))) != nullptr) {
                ++counts.atSigns;
                ++p;
            }
        } else if (stage == Stage::FindAddresses) {
            found.clear();
            orlenta::FindAddresses(chunk, found);
        } else if (stage >= Stage::Scan) {
            orlenta::ScanChunkForEmails(chunk, seen, found);
            counts.newAddresses += found.size();
            if (stage == Stage::Collect) {
                for (std::string_view address : found) {
                    output += address;
                    output += "\r\n";
                }
            }
        }
    }
    if (!reader.ok()) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), reader.error().c_str());
        std::exit(1);
    }
    counts.outputBytes = output.size();
    return counts;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: orlenta_extract_stages_bench FILE [ROUNDS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const struct {
        Stage stage;
        const char* name;
    } stages[] = {{Stage::Read, "read"},
                  {Stage::FindAt, "find @"},
                  {Stage::FindAddresses, "addresses"},
                  {Stage::Scan, "set"},
                  {Stage::Collect, "collect"}};

    Counts counts;
    std::printf("%-10s %9s %9s %12s\n", "stage", "best ms", "+ ms", "+ ns per @");
    double previous = 0;
    for (const auto& [stage, name] : stages) {
        double best = 1e30;
        for (int i = 0; i < rounds; ++i) {
            const Clock::time_point start = Clock::now();
            const Counts got = RunStage(path, stage);
            best = std::min(best, Millis(Clock::now() - start).count());
            counts.bytes = got.bytes;
            counts.atSigns = std::max(counts.atSigns, got.atSigns);
            counts.newAddresses = std::max(counts.newAddresses, got.newAddresses);
            counts.outputBytes = std::max(counts.outputBytes, got.outputBytes);
        }
        const double added = stage == Stage::Read ? best : best - previous;
        std::printf("%-10s %9.1f %9.1f %12.0f\n", name, best, added,
                    counts.atSigns == 0 ? 0.0 : added * 1e6 / static_cast<double>(counts.atSigns));
        previous = best;
    }
    std::printf("%zu bytes, %zu \"@\", %zu new addresses, %zu bytes of output\n", counts.bytes,
                counts.atSigns, counts.newAddresses, counts.outputBytes);
    return 0;
}
