#pragma once

// A run sink that lets every run go to its end and records what it was given: the addresses,
// the skipped files, the yields by kind and the chunks. It also notes the first breach of the
// order the run promises (an address comes after its chunk was scanned and after a yield
// before it; chunkDone closes the chunk).

#include "engine/extraction_run.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace orlenta::fuzz {

class RecordingSink final : public RunSink {
public:
    bool yield(YieldPoint point) override;
    void chunkScanned() override;
    void addressFound(std::string_view address) override;
    void chunkDone() override;
    void fileSkipped(const std::string& path, const std::string& reason) override;

    const std::vector<std::string>& addresses() const { return addresses_; }
    const std::vector<std::string>& skipped() const { return skipped_; }
    std::size_t yields(YieldPoint point) const { return yields_[static_cast<std::size_t>(point)]; }
    std::size_t chunksScanned() const { return chunksScanned_; }

    // Empty while the calls came in the promised order and no chunk is left open.
    std::string protocolError() const;

private:
    void breach(const char* what);

    std::vector<std::string> addresses_;
    std::vector<std::string> skipped_;
    std::array<std::size_t, 4> yields_{};
    std::size_t chunksScanned_ = 0;
    bool inChunk_ = false;
    bool appendAllowed_ = false;
    std::string protocolError_;
};

}  // namespace orlenta::fuzz
