#include "engine/source_planner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace orlenta {

namespace {

// Small files per unit at most: a folder of tiny files makes fewer, larger units (each unit
// passes through every shard).
constexpr std::size_t UnitFiles = 256;

// Sources opened together ahead of the planner: over a folder of small files the opens are
// most of the work.
constexpr std::size_t OpenBatchSources = 64;

// A regular file up to this long is read whole by whoever opens it, and closed at once: one
// read of the one-thread reader, and no descriptor held while it waits for its unit.
constexpr std::size_t SmallFileBytes = 64 * 1024;

// As the one-thread reader, in one read: a read that comes up short gives no chunk.
void ReadWhole(OpenBatch& batch, OpenedSource& source) {
    const auto length = static_cast<std::size_t>(source.file->length);
    source.offset = batch.bytes.size();
    batch.bytes.resize(source.offset + length);
    const long got = ReadFullyAt(source.file->fd.get(), batch.bytes.data() + source.offset, length,
                                 source.file->begin);
    if (got < 0 || static_cast<std::size_t>(got) < length) {
        source.error = got < 0 ? std::strerror(errno) : FileBecameShorter;
        batch.bytes.resize(source.offset);
    } else {
        source.size = length;
    }
    source.file.reset();
    source.claim.release();
    source.state = OpenedSource::State::ReadWhole;
}

}  // namespace

SourcePlanner::SourcePlanner(std::size_t count, const SourceOpener& openAt,
                             const AheadOpener& openAhead, WorkBoard& board,
                             DescriptorBudget& budget, std::size_t mostAhead)
    : count_(count),
      openAt_(openAt),
      openAhead_(openAhead),
      board_(board),
      budget_(budget),
      mostAhead_(std::max<std::size_t>(mostAhead, 1)) {}

void SourcePlanner::run() {
    for (std::size_t i = 0; i < count_; ++i) {
        offerBatchesUpTo(i);
        bool openIt = false;
        const std::shared_ptr<OpenBatch> batch = board_.frontBatch(openIt);
        if (!batch) {
            return;  // stopping
        }
        if (openIt) {
            open(*batch);
            board_.batchOpened(*batch);
        }
        planSource(batch, i);
        if (i + 1 == batch->first + batch->count) {
            board_.dropFrontBatch();
        }
        if (board_.stopping()) {
            return;
        }
    }
    flush();
    board_.planned();
}

void SourcePlanner::offerBatchesUpTo(std::size_t index) {
    while (nextToOffer_ < count_ && nextToOffer_ <= index + mostAhead_) {
        auto batch = std::make_shared<OpenBatch>();
        batch->first = nextToOffer_;
        batch->count = std::min(OpenBatchSources, count_ - nextToOffer_);
        nextToOffer_ += batch->count;
        board_.offerBatch(std::move(batch));
    }
}

void SourcePlanner::open(OpenBatch& batch) const {
    batch.sources.resize(batch.count);
    for (std::size_t k = 0; k < batch.count; ++k) {
        const std::size_t index = batch.first + k;
        OpenedSource& source = batch.sources[k];
        DescriptorBudget::Claim claim = budget_.tryClaimAhead();
        if (!claim) {
            continue;
        }
        std::optional<ChunkReader> opened =
            openAhead_ ? openAhead_(index) : std::optional<ChunkReader>(openAt_(index));
        if (!opened) {
            continue;
        }
        ChunkReader& reader = *opened;
        if (reader.outOfDescriptors()) {
            claim.release();
            budget_.outOfDescriptors(DescriptorBudget::FailedOpen::Ahead);
            continue;
        }
        if (reader.ok()) {
            source.file = reader.takeFile();
        }
        source.reader.emplace(std::move(reader));
        source.claim = std::move(claim);
        source.state = OpenedSource::State::Opened;
        if (source.file && source.file->length > 0 && source.file->length <= SmallFileBytes) {
            ReadWhole(batch, source);
        }
    }
}

void SourcePlanner::planSource(const std::shared_ptr<OpenBatch>& batch, std::size_t index) {
    OpenedSource& source = batch->sources[index - batch->first];
    startingSource_ = true;
    if (source.state == OpenedSource::State::ReadWhole) {
        Piece piece{nullptr, 0, source.size, source.reader->name(), source.error, true};
        piece.bytes = batch->bytes.data() + source.offset;
        piece.holder = batch;
        addPiece(std::move(piece));
        return;
    }
    std::optional<ChunkReader> atItsTurn;
    DescriptorBudget::Claim claim = std::move(source.claim);
    if (source.state == OpenedSource::State::AtItsTurn) {
        atItsTurn.emplace(openAtItsTurn(index, claim));
        if (board_.stopping()) {
            return;
        }
        if (atItsTurn->ok()) {
            source.file = atItsTurn->takeFile();
        }
    }
    ChunkReader& reader = atItsTurn ? *atItsTurn : *source.reader;  // after takeFile, its name
    if (source.file) {
        planFile(std::move(*source.file), std::move(claim), reader.name());
        source.file.reset();
    } else if (reader.ok() || reader.madeOfMembers()) {
        planStream(reader);
    } else {
        Piece empty{nullptr, 0, 0, reader.name(), reader.error(), true};
        empty.startsMember = true;
        addPiece(std::move(empty));
    }
    source.reader.reset();
}

ChunkReader SourcePlanner::openAtItsTurn(std::size_t index, DescriptorBudget::Claim& claim) {
    for (;;) {
        claim = budget_.claim();
        ChunkReader reader = openAt_(index);
        if (!reader.outOfDescriptors()) {
            return reader;
        }
        claim.release();
        if (budget_.outOfDescriptors(DescriptorBudget::FailedOpen::AtItsTurn) == 0) {
            return reader;  // the run holds no descriptor: the limit leaves none for it
        }
        flush();  // its files may be read and closed
        closeOpenedAhead(index);
        const std::size_t held = budget_.held();
        if (held > 0) {
            budget_.waitBelow(held);
        }
        if (board_.stopping()) {
            return reader;
        }
    }
}

void SourcePlanner::closeOpenedAhead(std::size_t index) {
    for (const std::shared_ptr<OpenBatch>& batch : board_.openedBatches()) {
        for (std::size_t k = 0; k < batch->sources.size(); ++k) {
            OpenedSource& source = batch->sources[k];
            if (batch->first + k > index && source.state == OpenedSource::State::Opened) {
                source.reader.reset();
                source.file.reset();
                source.claim.release();
                source.state = OpenedSource::State::AtItsTurn;
            }
        }
    }
}

void SourcePlanner::planFile(OpenRegularFile file, DescriptorBudget::Claim claim,
                             const std::string& name) {
    if (file.length == 0) {
        addPiece(Piece{nullptr, 0, 0, name, {}, true});
        return;
    }
    const std::uint64_t parts = (file.length + UnitBytes - 1) / UnitBytes;
    auto shared = std::make_shared<SharedFile>(std::move(file.fd), static_cast<std::size_t>(parts),
                                               std::move(claim));
    if (parts > 1) {
        flush();  // a large file starts a unit of its own, and each part fills one
    }
    for (std::uint64_t offset = 0; offset < file.length; offset += UnitBytes) {
        const auto size =
            static_cast<std::size_t>(std::min<std::uint64_t>(UnitBytes, file.length - offset));
        addPiece(Piece{shared, file.begin + offset, size, name, {}, offset + size == file.length});
        if (parts > 1) {
            flush();
        }
    }
}

void SourcePlanner::planStream(ChunkReader& reader) {
    flush();
    do {
        planMember(reader);
    } while (reader.nextSource());
    flush();
}

void SourcePlanner::planMember(ChunkReader& reader) {
    // Members of one source share units: each piece views its own bytes in the unit's buffer,
    // so that an archive of many small members does not cost a unit each.
    Piece* piece = nullptr;
    bool firstPiece = true;
    std::string_view chunk;
    while (reader.ok() && reader.next(chunk)) {
        if (pending_ && pendingBytes_ + chunk.size() > UnitBytes) {
            flush();
            piece = nullptr;
        }
        if (piece == nullptr && pending_ && pending_->pieces.size() == UnitFiles) {
            flush();
        }
        if (!pending_) {
            pending_ = freshUnit();
        }
        if (!pending_->buffer) {
            pending_->buffer.reset(new char[UnitBytes]);
        }
        if (piece == nullptr) {
            pending_->pieces.push_back(Piece{nullptr, 0, 0, reader.name(), {}, false});
            piece = &pending_->pieces.back();
            piece->bytes = pending_->buffer.get() + bufferUsed_;
            piece->startsSource = std::exchange(startingSource_, false);
            piece->startsMember = std::exchange(firstPiece, false);
        }
        std::memcpy(pending_->buffer.get() + bufferUsed_, chunk.data(), chunk.size());
        piece->size += chunk.size();
        bufferUsed_ += chunk.size();
        pendingBytes_ += chunk.size();
    }
    if (piece != nullptr) {
        piece->error = reader.error();
        piece->endsSource = true;
    } else {
        Piece empty{nullptr, 0, 0, reader.name(), reader.error(), true};
        empty.startsMember = true;
        addPiece(std::move(empty));
    }
}

void SourcePlanner::addPiece(Piece piece) {
    if (pending_ &&
        (pendingBytes_ + piece.size > UnitBytes || pending_->pieces.size() == UnitFiles)) {
        flush();
    }
    if (!pending_) {
        pending_ = freshUnit();
    }
    piece.startsSource = std::exchange(startingSource_, false);
    pendingBytes_ += piece.size;
    pending_->pieces.push_back(std::move(piece));
}

std::unique_ptr<Unit> SourcePlanner::freshUnit() {
    // One handed on before, when there is one: reusing units spares fresh allocations (and
    // their page faults) per megabyte read.
    std::unique_ptr<Unit> unit = board_.spareUnit();
    return unit ? std::move(unit) : std::make_unique<Unit>();
}

void SourcePlanner::flush() {
    if (!pending_) {
        return;
    }
    pendingBytes_ = 0;
    bufferUsed_ = 0;
    // Numbered as the calling thread calls sourceStarted, now that the pieces are final.
    for (Piece& piece : pending_->pieces) {
        if (piece.startsSource || piece.startsMember) {
            ++sourcesStarted_;
            sourceBytes_ = 0;
        }
        piece.sourceNumber = sourcesStarted_;
        piece.sourceOffset = sourceBytes_;
        sourceBytes_ += piece.size;
    }
    board_.submit(std::move(pending_));
}

}  // namespace orlenta
