#include "engine/archive_source.h"

#include "engine/archive_library.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

namespace orlenta {

namespace {

// The bytes handed to libarchive per read, at each level.
constexpr std::size_t LayerBufferSize = 128 * 1024;

// What a layer keeps of the bytes it read while it was recognised, at most.
constexpr std::size_t MostRecorded = 1024 * 1024;

// Named filters and formats, not *_all: "all" also brings formats that read other files of the
// disk (mtree names them), decoders that cut a text file at a "begin 644" line (uu), and
// filters that run outside programs (lzop, lrzip, grzip).
void SupportCompressions(archive* a) {
    Archive().archive_read_support_filter_gzip(a);
    Archive().archive_read_support_filter_bzip2(a);
    Archive().archive_read_support_filter_xz(a);
    Archive().archive_read_support_filter_lzma(a);
    Archive().archive_read_support_filter_zstd(a);
    Archive().archive_read_support_filter_lz4(a);
    Archive().archive_read_support_filter_lzip(a);
    Archive().archive_read_support_filter_compress(a);
}

void SupportPackings(archive* a) {
    SupportCompressions(a);
    Archive().archive_read_support_format_tar(a);
    Archive().archive_read_support_format_zip(a);
    Archive().archive_read_support_format_7zip(a);
    Archive().archive_read_support_format_cpio(a);
    Archive().archive_read_support_format_ar(a);
    Archive().archive_read_support_format_rar(a);
    Archive().archive_read_support_format_rar5(a);
    // Anything else: one entry of plain (or only compressed) bytes; none for no bytes at all.
    Archive().archive_read_support_format_raw(a);
    Archive().archive_read_support_format_empty(a);
}

std::string ErrorOf(archive* a, const char* fallback) {
    const char* text = Archive().archive_error_string(a);
    return text != nullptr && *text != '\0' ? text : fallback;
}

// Whether a layer is an archive: raw never fails, so a failure means another format took it.
bool IsArchive(archive* a, int headerResult) {
    const int format = Archive().archive_format(a);
    return headerResult < ARCHIVE_WARN ||
           (format != ARCHIVE_FORMAT_RAW && format != ARCHIVE_FORMAT_EMPTY && format != 0);
}

// The levels of packing of a layer: one per compression (libarchive stacks them: "a.gz.gz"
// gives two) and one for an archive.
int PackedLevels(archive* a, int headerResult) {
    return Archive().archive_filter_count(a) - 1 + (IsArchive(a, headerResult) ? 1 : 0);
}

// libarchive reads a 7z archive's index at its end, by seeking: one read from a pipe or inside
// another archive is copied into a temporary file first, unless it was read too far already.
constexpr char SevenZipUnseekable[] = "a 7z archive that cannot be read from here";

std::string TooExpanding() {
    return "not read further: the file unpacks to more than " + std::to_string(MostUnpackRatio) +
           " times its size (a zip bomb?)";
}

// A file no one else can open, gone when closed: in $TMPDIR, or /tmp.
UniqueFd OpenUnlinkedTemporary(std::string& error) {
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') {
        folder = "/tmp";
    }
    UniqueFd fd(::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!fd) {
        std::string path = std::string(folder) + "/.orlenta-unpack-XXXXXX";
        fd.reset(::mkostemp(path.data(), O_CLOEXEC));
        if (fd) {
            ::unlink(path.c_str());
        }
    }
    if (!fd) {
        error = std::strerror(errno);
    }
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size, std::string& error) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = std::string("a 7z archive could not be copied to a temporary file: ") +
                    std::strerror(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string TooDeep() {
    return "packed more than " + std::to_string(MostPackedLevels) + " levels deep, not unpacked";
}

}  // namespace

// Where the outermost layer's bytes come from: a descriptor or a stream. Counts its high-water
// mark, the room MostUnpackRatio measures.
struct ArchiveSource::Input {
    UniqueFd fd;
    bool seekable = false;
    std::unique_ptr<ByteSource> stream;
    std::unique_ptr<char[]> buffer{new char[LayerBufferSize]};
    std::uint64_t position = 0;
    std::uint64_t highWater = 0;
    std::exception_ptr failure;  // thrown inside a read callback
};

struct ArchiveSource::Layer {
    std::unique_ptr<Input> ownInput;  // a 7z archive copied into a temporary file
    archive* a = nullptr;
    Layer* parent = nullptr;  // null: reads the Input
    Input* input = nullptr;
    std::unique_ptr<char[]> buffer;
    int level = 0;               // packed levels down to this one
    bool isArchive = false;      // its entries are members
    bool pendingHeader = false;  // its first header was read when it was recognised
    int pendingResult = ARCHIVE_OK;
    archive_entry* entry = nullptr;
    std::string entryName;
    bool broken = false;  // a read through it failed; that member has said why
    bool recording = false;
    bool recordingCut = false;
    std::string recorded;  // read while it was being recognised, to be read again
    std::size_t replayed = static_cast<std::size_t>(-1);

    ~Layer() {
        if (a != nullptr) {
            Archive().archive_read_free(a);
        }
    }
};

namespace {

using Layer = ArchiveSource::Layer;
using Input = ArchiveSource::Input;

// Fresh bytes for a layer: from the file or stream for the outermost one, from its parent's
// current entry for the others.
la_ssize_t ReadFresh(archive* a, Layer& layer, const void** buffer) {
    if (layer.parent != nullptr) {
        const la_ssize_t n =
            Archive().archive_read_data(layer.parent->a, layer.buffer.get(), LayerBufferSize);
        if (n < 0) {
            layer.parent->broken = n <= ARCHIVE_FATAL;
            Archive().archive_set_error(a, EIO, "%s", ErrorOf(layer.parent->a, "damaged").c_str());
            return ARCHIVE_FATAL;
        }
        *buffer = layer.buffer.get();
        return n;
    }
    Input& input = *layer.input;
    *buffer = input.buffer.get();
    la_ssize_t n = 0;
    if (input.stream) {
        n = input.stream->read(input.buffer.get(), LayerBufferSize);
        if (n < 0) {
            Archive().archive_set_error(a, EIO, "%s", input.stream->error().c_str());
            return ARCHIVE_FATAL;
        }
    } else {
        while ((n = ::read(input.fd.get(), input.buffer.get(), LayerBufferSize)) < 0) {
            if (errno != EINTR) {
                Archive().archive_set_error(a, errno, "%s", std::strerror(errno));
                return ARCHIVE_FATAL;
            }
        }
    }
    input.position += static_cast<std::uint64_t>(n);
    input.highWater = std::max(input.highWater, input.position);
    return n;
}

// While a layer is recognised, what it reads is kept, so that it can be read again from the
// start as plain bytes (see OpenLayer).
la_ssize_t ReadLayerOrThrow(archive* a, Layer& layer, const void** buffer) {
    if (layer.replayed < layer.recorded.size()) {
        *buffer = layer.recorded.data() + layer.replayed;
        const std::size_t n = layer.recorded.size() - layer.replayed;
        layer.replayed = layer.recorded.size();
        return static_cast<la_ssize_t>(n);
    }
    const la_ssize_t n = ReadFresh(a, layer, buffer);
    if (layer.recording && n > 0) {
        if (layer.recorded.size() + static_cast<std::size_t>(n) > MostRecorded) {
            layer.recording = false;  // too much to keep: not read again
            layer.recordingCut = true;
        } else {
            layer.recorded.append(static_cast<const char*>(*buffer), static_cast<std::size_t>(n));
        }
    }
    return n;
}

// libarchive is C: an exception (out of memory, or one a stream's read throws) must not pass
// through it. It is kept and thrown again once libarchive has returned (ArchiveSource).
la_ssize_t ReadLayer(archive* a, void* data, const void** buffer) {
    Layer& layer = *static_cast<Layer*>(data);
    try {
        return ReadLayerOrThrow(a, layer, buffer);
    } catch (...) {
        layer.input->failure = std::current_exception();
        Archive().archive_set_error(a, ENOMEM, "failed");
        return ARCHIVE_FATAL;
    }
}

la_int64_t SeekInput(archive*, void* data, la_int64_t offset, int whence) {
    Input& input = *static_cast<Layer*>(data)->input;
    const off_t at = ::lseek(input.fd.get(), static_cast<off_t>(offset), whence);
    if (at < 0) {
        return ARCHIVE_FATAL;
    }
    input.position = static_cast<std::uint64_t>(at);
    return at;
}

la_int64_t SkipInput(archive*, void* data, la_int64_t request) {
    Input& input = *static_cast<Layer*>(data)->input;
    const off_t at = ::lseek(input.fd.get(), static_cast<off_t>(request), SEEK_CUR);
    if (at < 0) {
        return 0;  // libarchive reads through instead
    }
    input.position = static_cast<std::uint64_t>(at);
    return request;
}

// Opens `layer.a` (anew when it was open) and reads its first header; the header's result.
int OpenOnce(Layer& layer, bool rawOnly) {
    if (layer.a != nullptr) {
        Archive().archive_read_free(layer.a);
    }
    layer.a = Archive().archive_read_new();
    if (layer.a == nullptr) {
        throw std::bad_alloc();
    }
    if (rawOnly) {
        SupportCompressions(layer.a);
        Archive().archive_read_support_format_raw(layer.a);
        Archive().archive_read_support_format_empty(layer.a);
    } else {
        SupportPackings(layer.a);
    }
    if (layer.parent != nullptr && !layer.buffer) {
        layer.buffer.reset(new char[LayerBufferSize]);
    }
    Archive().archive_read_set_callback_data(layer.a, &layer);
    Archive().archive_read_set_read_callback(layer.a, ReadLayer);
    if (layer.parent == nullptr && layer.input->seekable) {
        Archive().archive_read_set_seek_callback(layer.a, SeekInput);
        Archive().archive_read_set_skip_callback(layer.a, SkipInput);
    }
    const int opened = Archive().archive_read_open1(layer.a);
    if (opened < ARCHIVE_WARN) {
        return opened;
    }
    return Archive().archive_read_next_header(layer.a, &layer.entry);
}

// Opens a layer. A tar archive takes bytes that start with a block of zeros for an empty
// archive: a disk image, 10 GB of zeros. Such bytes are read again from the start as plain
// bytes: a file on disk from its offset 0, anything else from what was kept while recognising.
int OpenLayer(Layer& layer) {
    const bool seekable = layer.parent == nullptr && layer.input->seekable;
    layer.recording = !seekable;
    int result = OpenOnce(layer, false);
    layer.recording = false;
    if (result == ARCHIVE_EOF && Archive().archive_format(layer.a) == ARCHIVE_FORMAT_TAR &&
        !layer.recordingCut) {
        if (seekable) {
            ::lseek(layer.input->fd.get(), 0, SEEK_SET);
            layer.input->position = 0;
        } else {
            layer.replayed = 0;
        }
        result = OpenOnce(layer, true);
    }
    if (layer.replayed == static_cast<std::size_t>(-1) && result >= ARCHIVE_WARN &&
        Archive().archive_format(layer.a) != ARCHIVE_FORMAT_7ZIP) {
        // Not needed any more; what is replayed libarchive may still read, and what a layer
        // that failed read may be copied (spoolSevenZip).
        std::string().swap(layer.recorded);
    }
    return result;
}

}  // namespace

bool LooksPacked(const char* data, std::size_t size) {
    archive* a = Archive().archive_read_new();
    if (a == nullptr) {
        throw std::bad_alloc();
    }
    SupportPackings(a);
    // Plain bytes never fail the open: a failure is a compression recognised and damaged, for
    // the unpacking reader to report.
    bool packed = true;
    if (Archive().archive_read_open_memory(a, data, size) >= ARCHIVE_WARN &&
        Archive().archive_filter_count(a) == 1) {
        archive_entry* entry = nullptr;
        packed = PackedLevels(a, Archive().archive_read_next_header(a, &entry)) > 0;
    }
    Archive().archive_read_free(a);
    return packed;
}

bool LooksPackedDescriptor(int fd) {
    std::unique_ptr<char[]> first(new char[PackedProbeBytes]);
    const long got = ReadFullyAt(fd, first.get(), PackedProbeBytes, 0);
    return got > 0 && LooksPacked(first.get(), static_cast<std::size_t>(got));
}

bool LooksPackedFile(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info {};
    return fd && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
           LooksPackedDescriptor(fd.get());
}

ChunkReader Unpacking(ChunkReader reader, const MemberDecoder& decodeMembers) {
    if (!reader.ok()) {
        return reader;
    }
    const std::string name = reader.name();
    const auto readerOf = [&](std::unique_ptr<ByteSource> archive) {
        return ChunkReader::FromSource(
            decodeMembers ? decodeMembers(std::move(archive)) : std::move(archive), name);
    };
    if (std::optional<OpenRegularFile> file = reader.takeFile()) {
        if (file->length == 0 || !LooksPackedDescriptor(file->fd.get())) {
            return ChunkReader::FromFile(std::move(*file), name);
        }
        return readerOf(std::make_unique<ArchiveSource>(std::move(file->fd), true));
    }
    if (std::unique_ptr<ByteSource> stream = reader.takeStream()) {
        return readerOf(std::make_unique<ArchiveSource>(std::move(stream)));
    }
    return reader;
}

ArchiveSource::ArchiveSource(UniqueFd fd, bool seekable) : input_(std::make_unique<Input>()) {
    input_->fd = std::move(fd);
    input_->seekable = seekable;
}

ArchiveSource::ArchiveSource(std::unique_ptr<ByteSource> stream)
    : input_(std::make_unique<Input>()) {
    input_->stream = std::move(stream);
    input_->stream->nextMember();
}

ArchiveSource::~ArchiveSource() {
    while (!layers_.empty()) {
        layers_.pop_back();  // innermost first: each reads its parent
    }
}

void ArchiveSource::pop() {
    layers_.pop_back();
}

bool ArchiveSource::setMemberError(std::string reason) {
    memberError_ = std::move(reason);
    return true;
}

bool ArchiveSource::openRoot() {
    auto root = std::make_unique<Layer>();
    root->input = input_.get();
    int result = OpenLayer(*root);
    if (Archive().archive_format(root->a) == ARCHIVE_FORMAT_7ZIP && !input_->seekable) {
        root = spoolSevenZip(*root, result, error_);
        if (!root) {
            return false;
        }
    }
    if (result == ARCHIVE_EOF) {
        return false;  // empty, or an archive without members
    }
    if (result < ARCHIVE_WARN) {
        error_ = ErrorOf(root->a, "not readable");
        return false;
    }
    root->level = PackedLevels(root->a, result);
    if (root->level > MostPackedLevels) {
        error_ = TooDeep();
        return false;
    }
    root->isArchive = Archive().archive_format(root->a) != ARCHIVE_FORMAT_RAW;
    root->pendingHeader = root->isArchive;
    root->pendingResult = result;
    layers_.push_back(std::move(root));
    leaf_ = !layers_.back()->isArchive;
    return true;
}

bool ArchiveSource::reopenAfterDamage() {
    // libarchive gives up on a zip at the first damaged member; a zip on disk lists its
    // members at its end, so it is opened again and the members up to that one passed over.
    if (!input_->seekable || Archive().archive_format(layers_.front()->a) != ARCHIVE_FORMAT_ZIP ||
        ::lseek(input_->fd.get(), 0, SEEK_SET) != 0) {
        return false;
    }
    input_->position = 0;
    layers_.clear();
    auto root = std::make_unique<Layer>();
    root->input = input_.get();
    int result = OpenLayer(*root);
    for (std::size_t entry = 1; entry < rootEntries_ && result >= ARCHIVE_WARN; ++entry) {
        result = Archive().archive_read_next_header(root->a, &root->entry);
    }
    if (result < ARCHIVE_WARN || Archive().archive_format(root->a) != ARCHIVE_FORMAT_ZIP) {
        return false;
    }
    root->level = 1;
    root->isArchive = true;
    layers_.push_back(std::move(root));
    reopened_ = true;
    return true;
}

void ArchiveSource::throwFailure() {
    if (input_->failure) {
        std::rethrow_exception(std::exchange(input_->failure, nullptr));
    }
    for (const std::unique_ptr<Layer>& layer : layers_) {
        if (layer->ownInput && layer->ownInput->failure) {
            std::rethrow_exception(std::exchange(layer->ownInput->failure, nullptr));
        }
    }
}

bool ArchiveSource::nextMember() {
    const bool found = findNextMember();
    throwFailure();
    return found;
}

long ArchiveSource::read(char* data, std::size_t size) {
    const long got = readMember(data, size);
    throwFailure();
    return got;
}

bool ArchiveSource::findNextMember() {
    error_.clear();
    memberError_.clear();
    leafEnded_ = false;
    if (gaveUp_) {
        return false;
    }
    if (!started_) {
        started_ = true;
        if (!openRoot()) {
            return false;
        }
        if (leaf_) {
            return true;  // a compressed file, or plain bytes: one member without a name
        }
    } else if (leaf_) {
        leaf_ = false;
        if (layers_.size() == 1) {
            return false;  // the one member of a compressed file has been read
        }
        pop();
    }
    while (!layers_.empty()) {
        Layer& top = *layers_.back();
        if (top.broken) {
            if (layers_.size() == 1 && reopenAfterDamage()) {
                continue;
            }
            pop();
            continue;
        }
        int result = top.pendingResult;
        if (!std::exchange(top.pendingHeader, false)) {
            result = Archive().archive_read_next_header(top.a, &top.entry);
        }
        if (result == ARCHIVE_EOF) {
            pop();
            continue;
        }
        if (result < ARCHIVE_WARN) {
            const std::string reason = ErrorOf(top.a, "damaged archive");
            if (result == ARCHIVE_FAILED && top.entry != nullptr &&
                Archive().archive_entry_pathname(top.entry) != nullptr) {
                top.entryName = Archive().archive_entry_pathname(top.entry);
            }
            if (result == ARCHIVE_FATAL) {
                pop();
                if (layers_.empty()) {
                    // The file itself, said once under its name; after a reopen past a damaged
                    // member, that member has said it.
                    error_ = std::exchange(reopened_, false) ? std::string() : reason;
                    return false;
                }
            }
            return setMemberError(reason);
        }
        if (layers_.size() == 1) {
            ++rootEntries_;
            reopened_ = false;
        }
        const char* path = Archive().archive_entry_pathname(top.entry);
        top.entryName = path != nullptr ? path : "?";
        // Folders, links, devices have no bytes of their own; an entry of no type is a file
        // (ar archives made by Debian's ar give none).
        const auto type = Archive().archive_entry_filetype(top.entry);
        if ((type != 0 && type != AE_IFREG) ||
            Archive().archive_entry_hardlink(top.entry) != nullptr) {
            continue;
        }
        if (Archive().archive_entry_is_data_encrypted(top.entry)) {
            return setMemberError("encrypted, not read");
        }
        if (pushEntry()) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<ArchiveSource::Layer> ArchiveSource::spoolSevenZip(Layer& failed, int& result,
                                                                   std::string& error) {
    if (failed.recordingCut) {
        error = SevenZipUnseekable;
        return nullptr;
    }
    auto input = std::make_unique<Input>();
    input->fd = OpenUnlinkedTemporary(error);
    if (!input->fd) {
        error = "a 7z archive needs a temporary file: " + error;
        return nullptr;
    }
    input->seekable = true;
    std::uint64_t spooled = failed.recorded.size();
    if (!WriteAll(input->fd.get(), failed.recorded.data(), failed.recorded.size(), error)) {
        return nullptr;
    }
    for (;;) {
        const void* bytes = nullptr;
        const la_ssize_t n = ReadFresh(failed.a, failed, &bytes);
        if (n < 0) {
            error = ErrorOf(failed.a, "not readable");
            return nullptr;
        }
        if (n == 0) {
            break;
        }
        spooled += static_cast<std::uint64_t>(n);
        if (spooled > UnpackAllowance && spooled / MostUnpackRatio > input_->highWater) {
            error = TooExpanding();
            gaveUp_ = true;
            return nullptr;
        }
        if (!WriteAll(input->fd.get(), static_cast<const char*>(bytes), static_cast<std::size_t>(n),
                      error)) {
            return nullptr;
        }
    }
    if (::lseek(input->fd.get(), 0, SEEK_SET) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    auto layer = std::make_unique<Layer>();
    layer->ownInput = std::move(input);
    layer->input = layer->ownInput.get();
    result = OpenLayer(*layer);
    return layer;
}

bool ArchiveSource::pushEntry() {
    Layer& parent = *layers_.back();
    auto child = std::make_unique<Layer>();
    child->parent = &parent;
    child->input = parent.input;
    int result = OpenLayer(*child);
    if (Archive().archive_format(child->a) == ARCHIVE_FORMAT_7ZIP && !parent.broken) {
        std::string reason;
        child = spoolSevenZip(*child, result, reason);
        if (!child) {
            return setMemberError(reason);
        }
    }
    if (parent.broken) {
        return setMemberError(ErrorOf(parent.a, "damaged archive"));
    }
    if (result < ARCHIVE_WARN) {
        return setMemberError("damaged: " + ErrorOf(child->a, "not readable"));
    }
    child->level = parent.level + (result == ARCHIVE_EOF ? 0 : PackedLevels(child->a, result));
    if (child->level > MostPackedLevels) {
        return setMemberError(TooDeep());
    }
    child->isArchive =
        result != ARCHIVE_EOF && Archive().archive_format(child->a) != ARCHIVE_FORMAT_RAW;
    layers_.push_back(std::move(child));
    if (!layers_.back()->isArchive) {
        leaf_ = true;
        leafEnded_ = result == ARCHIVE_EOF;
        return true;
    }
    layers_.back()->pendingHeader = true;
    layers_.back()->pendingResult = result;
    return false;  // an archive: its members follow
}

std::string ArchiveSource::memberName() const {
    std::string name;
    for (const std::unique_ptr<Layer>& layer : layers_) {
        if (layer->isArchive) {
            name += (name.empty() ? "" : ":") + layer->entryName;
        }
    }
    return name;
}

long ArchiveSource::readMember(char* data, std::size_t size) {
    if (!memberError_.empty()) {
        error_ = memberError_;
        return -1;
    }
    if (!leaf_ || leafEnded_ || size == 0) {
        return 0;
    }
    Layer& leaf = *layers_.back();
    const la_ssize_t n = Archive().archive_read_data(leaf.a, data, size);
    if (n < 0) {
        error_ = ErrorOf(leaf.a, "damaged");
        leafEnded_ = true;
        return -1;
    }
    given_ += static_cast<std::uint64_t>(n);
    if (given_ > UnpackAllowance && given_ / MostUnpackRatio > input_->highWater) {
        error_ = TooExpanding();
        gaveUp_ = true;
        return -1;
    }
    return static_cast<long>(n);
}

}  // namespace orlenta
