#pragma once

#include "engine/byte_source.h"
#include "engine/chunk_reader.h"
#include "engine/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct archive;

namespace orlenta {

// What --unpack reads: compressed files (gzip, bzip2, xz, lzma, zstd, lz4, lzip, compress) and
// archives (zip, tar, 7z, cpio, ar, rar) through libarchive, recognised by their content, never
// by their names. An archive or compressed file inside one is unpacked in turn, up to
// MostPackedLevels levels: each compression and each archive is one ("a.tar.gz" is two, a zip
// in it three); a member packed deeper is named and not read.
inline constexpr int MostPackedLevels = 10;

// All the bytes a packed file gives, every level and member together, may reach this many
// times the bytes read of the file itself (its high-water mark: a zip's central directory
// pointing many members at the same bytes gives no more room), plus UnpackAllowance. No single
// gzip or zip layer can pass it (deflate makes at most 1032 bytes of one): a 10 GB member of
// zeros deflated to 10 MB is read whole, streamed. Layers compound: a zip of zips of zeros
// reaches it within a few hundred megabytes, and the rest of the file is given up, with a
// message on the member where it happened.
inline constexpr std::uint64_t MostUnpackRatio = 10000;
inline constexpr std::uint64_t UnpackAllowance = 64 * 1024 * 1024;

// The first bytes looked at to tell a packed file from a plain one.
inline constexpr std::size_t PackedProbeBytes = 64 * 1024;

// Whether `data` (the first bytes of a file) starts a compressed file or an archive.
bool LooksPacked(const char* data, std::size_t size);

// The same for the file open on `fd`, read with pread (its offset is left alone). False when
// it cannot be read: the plain reader then says why.
bool LooksPackedDescriptor(int fd);

// The same for a path: a folder walk with --unpack picks compressed files and archives so.
bool LooksPackedFile(const std::string& path);

// --unpack on one opened source: a regular file that looks packed, or a stream (standard input,
// a pipe), is read through an ArchiveSource, member by member; a plain regular file comes back
// as it is (the same reads, the same chunks as without --unpack), and so does a reader that
// failed to open or a pseudo-file. `decodeMembers`, when given, is put between the archive and
// the reader (--mail with --unpack: every member read as a mail).
using MemberDecoder = std::function<std::unique_ptr<ByteSource>(std::unique_ptr<ByteSource>)>;
ChunkReader Unpacking(ChunkReader reader, const MemberDecoder& decodeMembers = {});

// The members of a compressed file or an archive, in the archive's order and depth first
// through archives inside it: "inner.zip:users.csv" of "dump.tar.gz". Streamed: a few buffers
// per level are held, never a member. A member that is encrypted, damaged, or packed too deep
// is a member that fails to read (its reason in error()); a damaged archive ends early, and
// its reason is given once. Plain bytes (a stream that is neither) are one member, unchanged.
class ArchiveSource final : public ByteSource {
public:
    // The file on `fd` (closed with this object); `seekable` for a regular file.
    ArchiveSource(UniqueFd fd, bool seekable);
    // A stream, read once from start to end.
    explicit ArchiveSource(std::unique_ptr<ByteSource> stream);
    ~ArchiveSource() override;
    ArchiveSource(const ArchiveSource&) = delete;
    ArchiveSource& operator=(const ArchiveSource&) = delete;

    bool nextMember() override;
    std::string memberName() const override;
    long read(char* data, std::size_t size) override;
    std::string error() const override { return error_; }

    struct Layer;
    struct Input;

private:
    bool findNextMember();
    long readMember(char* data, std::size_t size);
    // Throws what a read callback caught (std::bad_alloc), once libarchive has returned.
    void throwFailure();
    bool openRoot();
    // A 7z archive that `failed` to open for want of seeking: the bytes it read and the rest of
    // its bytes are copied into an unlinked temporary file, opened as a layer in its place
    // (`result`: its first header's). Null, with the reason, when that fails.
    std::unique_ptr<Layer> spoolSevenZip(Layer& failed, int& result, std::string& error);
    // Opens the data of the current entry of the top layer as a layer of its own: true when
    // that makes a member to read (or one that failed), false for an archive to go into.
    bool pushEntry();
    void pop();
    bool setMemberError(std::string reason);
    // Opens a zip file again past its member that was damaged; false when it cannot be.
    bool reopenAfterDamage();

    std::unique_ptr<Input> input_;
    std::vector<std::unique_ptr<Layer>> layers_;
    bool started_ = false;
    bool leaf_ = false;       // the top layer is the current member's bytes
    bool leafEnded_ = false;  // ... and it has none (an empty member)
    bool gaveUp_ = false;     // the file gave more than MostUnpackRatio allows
    std::uint64_t given_ = 0;
    std::size_t rootEntries_ = 0;  // entries of the outermost archive met so far
    bool reopened_ = false;        // opened again past a damaged member, no entry read since
    std::string memberError_;
    std::string error_;
};

}  // namespace orlenta
