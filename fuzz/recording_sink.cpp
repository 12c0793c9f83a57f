#include "fuzz/recording_sink.h"

namespace orlenta::fuzz {

bool RecordingSink::yield(YieldPoint point) {
    ++yields_[static_cast<std::size_t>(point)];
    if (point == YieldPoint::BeforeAppend) {
        if (!inChunk_) {
            breach("a yield before an address outside a scanned chunk");
        }
        appendAllowed_ = true;
    }
    return true;
}

void RecordingSink::chunkScanned() {
    if (inChunk_) {
        breach("a chunk scanned before the previous one was done");
    }
    inChunk_ = true;
    ++chunksScanned_;
}

void RecordingSink::addressFound(std::string_view address) {
    if (!inChunk_ || !appendAllowed_) {
        breach("an address without its chunk or without a yield before it");
    }
    appendAllowed_ = false;
    addresses_.emplace_back(address);
}

void RecordingSink::chunkDone() {
    if (!inChunk_) {
        breach("a chunk done that was not scanned");
    }
    inChunk_ = false;
}

void RecordingSink::fileSkipped(const std::string& path, const std::string& reason) {
    skipped_.push_back(path + ": " + reason);
}

std::string RecordingSink::protocolError() const {
    if (protocolError_.empty() && inChunk_) {
        return "a chunk scanned but never done";
    }
    return protocolError_;
}

void RecordingSink::breach(const char* what) {
    if (protocolError_.empty()) {
        protocolError_ = what;
    }
}

}  // namespace orlenta::fuzz
