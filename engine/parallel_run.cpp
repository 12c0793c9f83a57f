#include "engine/parallel_run.h"

#include "engine/chunk_scanner.h"
#include "engine/seen_emails.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orlenta {

namespace {

constexpr std::size_t ReadSize = ChunksPerRead * ChunkSize;

// A unit holds up to this many bytes: whole reads of the one-thread reader, so a file that
// turns out shorter loses the same chunks in both runs.
constexpr std::size_t UnitBytes = 8 * ReadSize;

// Small files per unit at most: a folder of tiny files makes fewer, larger units (each unit
// passes through every shard).
constexpr std::size_t UnitFiles = 256;

// Sources opened together ahead of the planner, by a worker (or by the planner when it gets to
// them first): over a folder of small files the opens are most of the work.
constexpr std::size_t OpenBatchSources = 64;

// A regular file up to this long is read whole by whoever opens it, and closed at once: one
// read of the one-thread reader, and no descriptor held while it waits for its unit.
constexpr std::size_t SmallFileBytes = 64 * 1024;

// Why a read that came up short (`got` bytes, or -1 with errno set) stops the file.
std::string ReadFailure(long got) {
    return got < 0 ? std::strerror(errno) : FileBecameShorter;
}

// A regular file shared by the units that read parts of it; closed after its last part is read.
class SharedFile final {
public:
    SharedFile(int fd, std::size_t parts, std::atomic<std::size_t>& openFiles)
        : fd_(fd), partsLeft_(parts), openFiles_(openFiles) {}
    ~SharedFile() { close(); }
    SharedFile(const SharedFile&) = delete;
    SharedFile& operator=(const SharedFile&) = delete;

    int fd() const { return fd_; }

    // True when that was the last part: the file is closed now.
    bool partRead() {
        if (partsLeft_.fetch_sub(1) == 1) {
            close();
            return true;
        }
        return false;
    }

    // The offset of the first part whose read failed; the parts after it are not handed on.
    void failedAt(std::uint64_t offset) {
        std::uint64_t seen = failedAt_.load();
        while (offset < seen && !failedAt_.compare_exchange_weak(seen, offset)) {
        }
    }
    bool failedBefore(std::uint64_t offset) const { return failedAt_.load() < offset; }

private:
    void close() {
        const int fd = fd_.exchange(-1);
        if (fd >= 0) {
            ::close(fd);
            openFiles_.fetch_sub(1);
        }
    }

    std::atomic<int> fd_;
    std::atomic<std::size_t> partsLeft_;
    std::atomic<std::uint64_t> failedAt_{std::numeric_limits<std::uint64_t>::max()};
    std::atomic<std::size_t>& openFiles_;
};

// Consecutive bytes of one source inside a unit: a part of a file still to be read, a small
// file read when it was opened, bytes of a stream already read (a unit of a stream holds only
// that stream, from the start of its buffer), or nothing but the reason a source could not be
// read.
struct Piece {
    std::shared_ptr<SharedFile> file;  // null when the bytes are in memory already
    std::uint64_t fileOffset = 0;
    std::size_t size = 0;        // bytes of chunks; after a short read, those that arrived whole
    std::string name;            // the source's name, for its message
    std::string error;           // the source could not be read (after this piece's chunks)
    bool endsSource = false;     // the source's last piece
    bool startsSource = false;   // the source's first piece
    bool dropped = false;        // an earlier part of its file failed: nothing is handed on
    std::size_t firstChunk = 0;  // in Unit::chunkEnds
    std::size_t chunkCount = 0;
    const char* bytes = nullptr;           // a small file read when opened: its bytes,
    std::shared_ptr<const void> holder{};  // kept by this
};

struct Unit {
    std::uint64_t sequence = 0;
    std::vector<Piece> pieces;
    std::unique_ptr<char[]> buffer;  // a stream's bytes (UnitBytes, made when first needed)
    std::string copied;              // the addresses found in parts of files, back to back
    std::vector<std::string_view> addresses;  // every address found, in text order
    std::vector<std::uint64_t> hashes;        // HashLowerCased of each
    std::vector<std::size_t> chunkEnds;       // where each chunk's addresses end
    std::vector<std::uint8_t> isNew;          // per address: first met here
    // The addresses' indexes shard by shard, each shard's in text order: those of shard s are
    // byShard[shardStarts[s]] up to byShard[shardStarts[s + 1]].
    std::vector<std::size_t> byShard;
    std::vector<std::size_t> shardStarts;
    std::vector<bool> dropped;  // per address: its part of a file is not handed on
    // Guarded by the run's mutex:
    bool scanned = false;        // read, scanned and sorted by shard
    bool droppedMarked = false;  // `dropped` is filled
    std::size_t shardsLeft = 0;  // shards that have not taken it yet: done at 0
};

// One source as opened ahead of the planner.
struct OpenedSource {
    explicit OpenedSource(ChunkReader opened) : reader(std::move(opened)) {}

    ChunkReader reader;                   // its name and error; a stream is read from it
    std::optional<OpenRegularFile> file;  // a regular file, to be read in parts
    bool readWhole = false;               // a small regular file, read and closed already:
    std::size_t offset = 0;               //   its bytes in the batch's
    std::size_t size = 0;
    std::string error;  //   and why the read stopped short (then size is 0)
};

// Sources opened ahead of the planner, in order; filled by whoever took it from the queue,
// outside the lock.
struct OpenBatch {
    std::size_t first = 0;
    std::size_t count = 0;
    std::vector<OpenedSource> sources;
    std::string bytes;  // the small files' bytes, back to back
    enum class State { Waiting, Opening, Opened } state = State::Waiting;  // the run's mutex
};

// One part of the set of addresses met: the addresses whose hash falls to it, taken unit by
// unit in text order.
// Each shard belongs to one worker, which alone touches its set: the set stays in the cache of
// that worker's core.
struct Shard {
    std::uint64_t nextUnit = 0;  // the sequence of the next unit to take; the run's mutex
    SeenEmails seen;
};

std::size_t DescriptorBudget() {
    rlimit limit{};
    std::size_t budget = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        budget = static_cast<std::size_t>(limit.rlim_cur) / 2;
    }
    return std::clamp<std::size_t>(budget, 16, 1024);
}

class ParallelRun final {
public:
    ParallelRun(std::size_t count, const SourceOpener& openAt, RunSink& sink, unsigned threads,
                LoneLf loneLf)
        : count_(count),
          openAt_(openAt),
          sink_(sink),
          threads_(std::max(1u, threads)),
          loneLf_(loneLf),
          // Enough for every worker to have one and the next ready, and not too much memory
          // for machines with many cores: 48 units are 46 MB.
          maxUnitsInFlight_(
              std::max<std::size_t>(threads_ + 2, std::min<std::size_t>(3 * threads_ + 2, 48))),
          descriptorBudget_(DescriptorBudget()),
          // Enough sources open ahead to keep every worker busy, and at most half the
          // descriptors: the other half is for the files in the units in flight.
          openAhead_(
              std::min<std::size_t>(4 * OpenBatchSources * threads_, descriptorBudget_ / 2)) {
        const std::size_t shards = std::min<std::size_t>(64, 2 * threads_);
        for (std::size_t i = 0; i < shards; ++i) {
            shards_.push_back(std::make_unique<Shard>());
        }
    }

    RunResult run() {
        std::thread planner([this] { plan(); });
        std::vector<std::thread> workers;
        for (unsigned i = 0; i < threads_; ++i) {
            workers.emplace_back([this, i] { work(i); });
        }
        handOn();
        planner.join();
        for (std::thread& worker : workers) {
            worker.join();
        }
        return std::move(result_);
    }

private:
    // --- the planner: opens the sources in order and cuts them into units -------------------

    void plan() {
        for (std::size_t i = 0; i < count_; ++i) {
            const std::shared_ptr<OpenBatch> batch = opened(i);
            planSource(batch, batch->sources[i - batch->first]);
        }
        flush();
        std::lock_guard<std::mutex> lock(mutex_);
        planned_ = true;
        workReady_.notify_all();
        unitReady_.notify_all();
    }

    void planSource(const std::shared_ptr<OpenBatch>& batch, OpenedSource& source) {
        startingSource_ = true;
        ChunkReader& reader = source.reader;  // after takeFile, only for its name
        if (source.readWhole) {
            Piece piece{nullptr, 0, source.size, reader.name(), source.error, true};
            piece.bytes = batch->bytes.data() + source.offset;
            piece.holder = batch;
            addPiece(std::move(piece));
        } else if (source.file) {
            planFile(*source.file, reader.name());
        } else if (!reader.ok()) {
            addPiece(Piece{nullptr, 0, 0, reader.name(), reader.error(), true});
        } else {
            planStream(reader);
        }
    }

    // --- opening ahead: batches of sources opened by the workers ----------------------------

    // The batch of source `index`, the next the planner takes, once opened: by a worker or,
    // when none has taken the batch yet, by the planner itself.
    std::shared_ptr<OpenBatch> opened(std::size_t index) {
        openAhead(index);
        std::unique_lock<std::mutex> lock(mutex_);
        OpenBatch& batch = *batches_.front();
        if (batch.state == OpenBatch::State::Waiting) {
            openWork_.erase(std::find(openWork_.begin(), openWork_.end(), &batch));
            batch.state = OpenBatch::State::Opening;
            lock.unlock();
            open(batch);
            lock.lock();
            batch.state = OpenBatch::State::Opened;
        }
        batchOpened_.wait(lock, [&batch] { return batch.state == OpenBatch::State::Opened; });
        --reservedDescriptors_;
        std::shared_ptr<OpenBatch> taken = batches_.front();
        if (index + 1 == batch.first + batch.count) {
            batches_.pop_front();
        }
        return taken;
    }

    // Hands out batches up to `openAhead_` sources past `index`, as descriptors allow. When
    // `index` itself has not been handed out and no descriptor is free, waits for the files in
    // flight to be read, after sending the unit being filled on its way.
    void openAhead(std::size_t index) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (nextToOpen_ < count_ && nextToOpen_ < index + openAhead_) {
            const std::size_t busy = openFiles_.load() + reservedDescriptors_;
            const std::size_t free = busy < descriptorBudget_ ? descriptorBudget_ - busy : 0;
            const std::size_t size = std::min({OpenBatchSources, count_ - nextToOpen_, free});
            if (size == 0) {
                if (nextToOpen_ > index) {
                    return;  // the next source is on its way; more when files are closed
                }
                lock.unlock();
                flush();
                lock.lock();
                room_.wait(lock, [this] {
                    return openFiles_.load() + reservedDescriptors_ < descriptorBudget_;
                });
                continue;
            }
            auto batch = std::make_shared<OpenBatch>();
            batch->first = nextToOpen_;
            batch->count = size;
            nextToOpen_ += size;
            reservedDescriptors_ += size;
            openWork_.push_back(batch.get());
            batches_.push_back(std::move(batch));
            workReady_.notify_one();
        }
    }

    void open(OpenBatch& batch) {
        batch.sources.reserve(batch.count);
        for (std::size_t i = batch.first; i < batch.first + batch.count; ++i) {
            OpenedSource& source = batch.sources.emplace_back(openAt_(i));
            if (source.reader.ok()) {
                source.file = source.reader.takeFile();
            }
            if (source.file && source.file->length > 0 && source.file->length <= SmallFileBytes) {
                readWhole(batch, source);
            }
        }
    }

    // As the one-thread reader, in one read: a read that comes up short gives no chunk.
    static void readWhole(OpenBatch& batch, OpenedSource& source) {
        const auto length = static_cast<std::size_t>(source.file->length);
        source.offset = batch.bytes.size();
        batch.bytes.resize(source.offset + length);
        const long got =
            ReadFullyAt(source.file->fd.get(), batch.bytes.data() + source.offset, length, 0);
        if (got < 0 || static_cast<std::size_t>(got) < length) {
            source.error = ReadFailure(got);
            batch.bytes.resize(source.offset);
        } else {
            source.size = length;
        }
        source.file.reset();
        source.readWhole = true;
    }

    void planFile(OpenRegularFile& file, const std::string& name) {
        if (file.length == 0) {
            file.fd.reset();
            addPiece(Piece{nullptr, 0, 0, name, {}, true});
            return;
        }
        openFiles_.fetch_add(1);
        const std::uint64_t parts = (file.length + UnitBytes - 1) / UnitBytes;
        auto shared = std::make_shared<SharedFile>(file.fd.release(),
                                                   static_cast<std::size_t>(parts), openFiles_);
        if (parts > 1) {
            flush();  // a large file starts a unit of its own, and each part fills one
        }
        for (std::uint64_t offset = 0; offset < file.length; offset += UnitBytes) {
            const auto size =
                static_cast<std::size_t>(std::min<std::uint64_t>(UnitBytes, file.length - offset));
            addPiece(Piece{shared, offset, size, name, {}, offset + size == file.length});
            if (parts > 1) {
                flush();
            }
        }
    }

    void planStream(ChunkReader& reader) {
        flush();
        std::string_view chunk;
        while (reader.next(chunk)) {
            if (!pending_ || pendingBytes_ + chunk.size() > UnitBytes) {
                flush();
                pending_ = freshUnit();
                pending_->pieces.push_back(Piece{nullptr, 0, 0, reader.name(), {}, false});
                pending_->pieces.back().startsSource = std::exchange(startingSource_, false);
            }
            if (!pending_->buffer) {
                pending_->buffer.reset(new char[UnitBytes]);
            }
            std::memcpy(pending_->buffer.get() + pendingBytes_, chunk.data(), chunk.size());
            pending_->pieces.back().size += chunk.size();
            pendingBytes_ += chunk.size();
        }
        if (pending_) {
            pending_->pieces.back().error = reader.error();
            pending_->pieces.back().endsSource = true;
        } else {
            addPiece(Piece{nullptr, 0, 0, reader.name(), reader.error(), true});
        }
        flush();
    }

    // An empty unit: one handed on before, or a new one. Reusing them spares fresh allocations
    // (and their page faults) per megabyte read.
    std::unique_ptr<Unit> freshUnit() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!spareUnits_.empty()) {
                std::unique_ptr<Unit> unit = std::move(spareUnits_.back());
                spareUnits_.pop_back();
                return unit;
            }
        }
        return std::make_unique<Unit>();
    }

    void addPiece(Piece piece) {
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

    // Hands the unit being filled to the workers, once there is room for it.
    void flush() {
        if (!pending_) {
            return;
        }
        std::unique_ptr<Unit> unit = std::move(pending_);
        pendingBytes_ = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return inFlight_.size() < maxUnitsInFlight_; });
        unit->sequence = nextSequence_++;
        unit->shardsLeft = shards_.size();
        work_.push_back(unit.get());
        inFlight_.push_back(std::move(unit));
        workReady_.notify_one();
    }

    // --- the workers: read, scan, file into the shards --------------------------------------

    void work(std::size_t worker) {
        const std::unique_ptr<char[]> readBuffer(new char[ReadSize]);
        std::vector<std::size_t> copiedAt;
        std::vector<std::string_view> batch;
        std::vector<std::uint64_t> batchHashes;
        std::unique_ptr<bool[]> batchNew;
        std::size_t batchCapacity = 0;
        for (;;) {
            const Task task = nextTask(worker);
            if (task.batch != nullptr) {
                open(*task.batch);
                std::lock_guard<std::mutex> lock(mutex_);
                task.batch->state = OpenBatch::State::Opened;
                batchOpened_.notify_all();
            } else if (task.shard != nullptr) {
                const std::size_t count = task.unit->addresses.size();
                if (batchCapacity < count) {
                    batchCapacity = count;
                    batchNew.reset(new bool[batchCapacity]);
                }
                insert(*task.unit, task.shardIndex, *task.shard, batch, batchHashes,
                       batchNew.get());
                std::lock_guard<std::mutex> lock(mutex_);
                ++task.shard->nextUnit;
                if (--task.unit->shardsLeft == 0) {
                    unitReady_.notify_all();
                }
            } else if (task.unit != nullptr) {
                readAndScan(*task.unit, readBuffer.get(), copiedAt);
                sortByShard(*task.unit);
                std::lock_guard<std::mutex> lock(mutex_);
                task.unit->scanned = true;
                workReady_.notify_all();  // its shards' owners may go on
            } else {
                return;
            }
        }
    }

    void sortByShard(Unit& unit) const {
        const std::size_t shards = shards_.size();
        unit.shardStarts.assign(shards + 1, 0);
        for (std::uint64_t hash : unit.hashes) {
            ++unit.shardStarts[ShardOf(hash, shards) + 1];
        }
        for (std::size_t s = 0; s < shards; ++s) {
            unit.shardStarts[s + 1] += unit.shardStarts[s];
        }
        unit.byShard.resize(unit.addresses.size());
        std::vector<std::size_t> fill(unit.shardStarts.begin(), unit.shardStarts.end() - 1);
        for (std::size_t i = 0; i < unit.addresses.size(); ++i) {
            unit.byShard[fill[ShardOf(unit.hashes[i], shards)]++] = i;
        }
        unit.isNew.assign(unit.addresses.size(), 0);
    }

    // Files the unit's addresses of one shard into its set, and notes which were new.
    static void insert(Unit& unit, std::size_t s, Shard& shard,
                       std::vector<std::string_view>& batch, std::vector<std::uint64_t>& hashes,
                       bool* isNew) {
        batch.clear();
        hashes.clear();
        for (std::size_t j = unit.shardStarts[s]; j < unit.shardStarts[s + 1]; ++j) {
            const std::size_t i = unit.byShard[j];
            if (!unit.dropped[i]) {
                batch.push_back(unit.addresses[i]);
                hashes.push_back(unit.hashes[i]);
            }
        }
        shard.seen.InsertLowerCased(batch.data(), batch.size(), isNew, hashes.data());
        std::size_t b = 0;
        for (std::size_t j = unit.shardStarts[s]; j < unit.shardStarts[s + 1]; ++j) {
            const std::size_t i = unit.byShard[j];
            if (!unit.dropped[i]) {
                unit.isNew[i] = isNew[b++] ? 1 : 0;
            }
        }
    }

    static std::size_t ShardOf(std::uint64_t hash, std::size_t shards) {
        // The low bits: the set itself files by the high ones.
        return static_cast<std::size_t>(hash & 0xFFFF) % shards;
    }

    // Sources to open, a unit for one of the worker's shards, a unit to read, or nothing once
    // all is planned and the worker's shards have taken every unit. Opening comes first (the
    // planner waits for it), then the shards (the units wait for them to be handed on).
    struct Task {
        OpenBatch* batch = nullptr;
        Unit* unit = nullptr;
        Shard* shard = nullptr;  // with `unit`: file the unit's addresses into this shard
        std::size_t shardIndex = 0;
    };
    Task nextTask(std::size_t worker) {
        std::unique_lock<std::mutex> lock(mutex_);
        Task task;
        workReady_.wait(lock, [&] {
            if (!openWork_.empty()) {
                task.batch = openWork_.front();
                openWork_.pop_front();
                task.batch->state = OpenBatch::State::Opening;
                return true;
            }
            bool shardsCaughtUp = true;
            for (std::size_t s = worker; s < shards_.size(); s += threads_) {
                Shard& shard = *shards_[s];
                if (shard.nextUnit == nextSequence_) {
                    continue;
                }
                shardsCaughtUp = false;
                Unit& unit = *inFlight_[static_cast<std::size_t>(shard.nextUnit -
                                                                 inFlight_.front()->sequence)];
                if (unit.scanned) {
                    if (!unit.droppedMarked) {
                        // Every earlier unit has been taken by this shard, so every earlier
                        // part of its files has been read.
                        markDropped(unit);
                        unit.droppedMarked = true;
                    }
                    task = Task{nullptr, &unit, &shard, s};
                    return true;
                }
            }
            if (!work_.empty()) {
                task.unit = work_.front();
                work_.pop_front();
                return true;
            }
            return planned_ && shardsCaughtUp;
        });
        return task;
    }

    // Reads each part of a file a read of the one-thread reader at a time into this worker's
    // buffer and scans it there while it is in the cache; only the addresses found are kept
    // (copied into the unit). Bytes of a stream or a small file are in memory already.
    // `copiedAt` is the worker's own, reused: the addresses whose bytes go to unit.copied.
    void readAndScan(Unit& unit, char* readBuffer, std::vector<std::size_t>& copiedAt) {
        bool closedAny = false;
        copiedAt.clear();
        for (Piece& piece : unit.pieces) {
            piece.firstChunk = unit.chunkEnds.size();
            if (!piece.file) {
                const char* bytes = piece.bytes != nullptr ? piece.bytes : unit.buffer.get();
                scanChunks(unit, bytes, piece.size);
            } else {
                std::size_t done = 0;
                while (done < piece.size) {
                    const std::size_t want = std::min(ReadSize, piece.size - done);
                    const long got =
                        ReadFullyAt(piece.file->fd(), readBuffer, want, piece.fileOffset + done);
                    if (got < 0 || static_cast<std::size_t>(got) < want) {
                        // As the one-thread reader: the read that came up short gives no chunk.
                        piece.error = ReadFailure(got);
                        piece.file->failedAt(piece.fileOffset);
                        break;
                    }
                    const std::size_t first = unit.addresses.size();
                    scanChunks(unit, readBuffer, want);
                    for (std::size_t i = first; i < unit.addresses.size(); ++i) {
                        copiedAt.push_back(i);
                        unit.copied.append(unit.addresses[i]);
                    }
                    done += want;
                }
                piece.size = done;
                closedAny |= piece.file->partRead();
            }
            piece.chunkCount = unit.chunkEnds.size() - piece.firstChunk;
        }
        // The copies are in place now: the addresses view them, not the reused read buffer.
        std::size_t offset = 0;
        for (std::size_t i : copiedAt) {
            const std::size_t size = unit.addresses[i].size();
            unit.addresses[i] = std::string_view(unit.copied.data() + offset, size);
            offset += size;
        }
        if (closedAny) {
            std::lock_guard<std::mutex> lock(mutex_);
            room_.notify_all();  // the planner may wait for descriptors
        }
    }

    void scanChunks(Unit& unit, const char* bytes, std::size_t size) {
        for (std::size_t at = 0; at < size; at += ChunkSize) {
            const std::size_t first = unit.addresses.size();
            FindAddresses(std::string_view(bytes + at, std::min(ChunkSize, size - at)),
                          unit.addresses, loneLf_);
            unit.chunkEnds.push_back(unit.addresses.size());
            for (std::size_t i = first; i < unit.addresses.size(); ++i) {
                unit.hashes.push_back(HashLowerCased(unit.addresses[i]));
            }
        }
    }

    static void markDropped(Unit& unit) {
        std::vector<bool>& dropped = unit.dropped;
        dropped.assign(unit.addresses.size(), false);
        for (Piece& piece : unit.pieces) {
            if (piece.file && piece.file->failedBefore(piece.fileOffset)) {
                piece.dropped = true;
                const std::size_t begin =
                    piece.firstChunk == 0 ? 0 : unit.chunkEnds[piece.firstChunk - 1];
                const std::size_t end =
                    piece.chunkCount == 0 ? begin
                                          : unit.chunkEnds[piece.firstChunk + piece.chunkCount - 1];
                std::fill(dropped.begin() + static_cast<std::ptrdiff_t>(begin),
                          dropped.begin() + static_cast<std::ptrdiff_t>(end), true);
            }
        }
    }

    // --- the calling thread: hands the units on in order -------------------------------------

    void handOn() {
        for (;;) {
            std::unique_ptr<Unit> unit;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                unitReady_.wait(lock, [this] {
                    return (!inFlight_.empty() && inFlight_.front()->shardsLeft == 0) ||
                           (planned_ && inFlight_.empty());
                });
                if (inFlight_.empty()) {
                    return;
                }
                unit = std::move(inFlight_.front());
                inFlight_.pop_front();
                room_.notify_all();
            }
            handOn(*unit);
            unit->pieces.clear();
            unit->copied.clear();
            unit->addresses.clear();
            unit->hashes.clear();
            unit->chunkEnds.clear();
            unit->scanned = false;
            unit->droppedMarked = false;
            std::lock_guard<std::mutex> lock(mutex_);
            spareUnits_.push_back(std::move(unit));
        }
    }

    void handOn(const Unit& unit) {
        for (const Piece& piece : unit.pieces) {
            if (piece.dropped) {
                continue;
            }
            if (piece.startsSource) {
                sink_.yield(YieldPoint::BeforeFile);
            }
            for (std::size_t c = piece.firstChunk; c < piece.firstChunk + piece.chunkCount; ++c) {
                sink_.chunkRead(
                    std::min(ChunkSize, piece.size - (c - piece.firstChunk) * ChunkSize));
                sink_.chunkScanned();
                for (std::size_t i = c == 0 ? 0 : unit.chunkEnds[c - 1]; i < unit.chunkEnds[c];
                     ++i) {
                    if (unit.isNew[i]) {
                        sink_.addressFound(unit.addresses[i]);
                        ++result_.addressesFound;
                    }
                }
                sink_.chunkDone();
            }
            if (!piece.error.empty()) {
                result_.skipped.push_back({piece.name, piece.error});
                sink_.fileSkipped(piece.name, piece.error);
            } else if (piece.endsSource) {
                ++result_.filesRead;
            }
        }
    }

    const std::size_t count_;
    const SourceOpener& openAt_;
    RunSink& sink_;
    const unsigned threads_;
    const LoneLf loneLf_;
    const std::size_t maxUnitsInFlight_;
    const std::size_t descriptorBudget_;
    const std::size_t openAhead_;  // sources opened ahead of the planner at most
    std::vector<std::unique_ptr<Shard>> shards_;

    // The planner's own.
    std::unique_ptr<Unit> pending_;
    std::size_t pendingBytes_ = 0;
    bool startingSource_ = false;  // the next piece is its source's first
    std::atomic<std::size_t> openFiles_{0};

    std::mutex mutex_;  // guards what follows
    std::condition_variable workReady_;
    std::condition_variable unitReady_;
    std::condition_variable room_;
    std::deque<std::unique_ptr<Unit>> inFlight_;      // planned, not yet handed on, in order
    std::deque<Unit*> work_;                          // planned, not yet taken by a worker
    std::deque<std::shared_ptr<OpenBatch>> batches_;  // handed out, not all planned, in order
    std::deque<OpenBatch*> openWork_;                 // handed out, not yet taken to be opened
    std::condition_variable batchOpened_;
    std::size_t nextToOpen_ = 0;           // the first source not handed out to be opened
    std::size_t reservedDescriptors_ = 0;  // sources handed out, not yet planned
    std::vector<std::unique_ptr<Unit>> spareUnits_;
    std::uint64_t nextSequence_ = 0;
    bool planned_ = false;

    RunResult result_;  // the calling thread's
};

}  // namespace

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
                                  unsigned threads, LoneLf loneLf) {
    ParallelRun run(count, openAt, sink, threads, loneLf);
    return run.run();
}

}  // namespace orlenta
