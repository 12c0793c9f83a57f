#pragma once

#include "engine/temporary_files.h"
#include "engine/unique_fd.h"
#include "results/pending_bytes.h"

#include <QtGlobal>

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orlenta {

// An output file that never destroys what it replaces. The path is the file name's bytes, as
// the system takes them (argv, a dialog's answer through QFile::encodeName).
//
//   OutputFile out;
//   if (!out.open(path) || !out.write(bytes) || !out.commit()) { report(out.error()); }
//
// open() decides how the bytes will reach the target, before anything is written, so that a
// refusal costs nothing and nothing is learnt only at the end. Symbolic links are followed to
// the end (a link stays a link, its final target gets the bytes; a dangling link's target is
// created), but a link planted in a sticky folder by another user is refused as the kernel
// refuses it (fs.protected_symlinks). By what the path names:
//   - nothing: a new file, written under a temporary name beside it (".NAME.XXXXXXXX") and
//     renamed into place at commit(), so it never exists half written.
//   - a regular file: opened for writing first, so whatever ">" would refuse (permissions, an
//     immutable file, a read-only file system) is refused at once. Then one of two ways:
//       replaced: the bytes go to a temporary file beside it, which is renamed over it at
//         commit(). Chosen only when nobody could tell the new file from the old but by its
//         content: it takes the old one's owner, group, mode and every extended attribute
//         (ACLs, labels), the old file has no other hard link, and the rename is allowed (in a
//         sticky folder only the owner of the file or the folder, or root, may). Atomic: a
//         crash or a failure leaves the old file whole.
//       in place: otherwise (a file of another user, a second hard link, an attribute that
//         cannot be copied, a folder that takes no new file). The file keeps its identity, and
//         its old content until commit(): the bytes wait in PendingBytes (a file that is also
//         an input is read as it was). commit() first reserves the new length on the disk
//         (fallocate; where the file system cannot, the bytes are written after the old end
//         first), so a full disk or quota fails before one old byte changes; only then are the
//         bytes written over the old ones and the file cut to their length, with the
//         terminating signals held back so that Ctrl-C cannot cut the write in half.
//   - a device, a FIFO or a socket: written through, like the shell's ">", never replaced. A
//     FIFO that no process reads from fails with "No process is reading from it" unless
//     NoReader::Wait asks to wait for one, as ">" does.
//   - one of this process's own descriptors (/dev/stdout, /dev/stderr, /dev/fd/N,
//     /proc/self/fd/N): written through that descriptor, as openStandardOutput() does, at its
//     offset and with its O_APPEND ("-o /dev/stdout >> log" appends); never truncated or
//     replaced. A closed one is refused ("Bad file descriptor").
//   - a folder: refused ("Is a directory").
// openStandardOutput() writes to file descriptor 1; IsStandardOutputName tells whether a
// command-line output name ("-") means it.
//
// write() may be called any number of times between open() and commit(). Writes go straight
// to the system but in place; a descriptor left non-blocking is waited on, not failed. Errors
// are the system's texts ("Permission denied", "No space left on device"), in the locale's
// encoding. A temporary file is registered with RemoveTemporaryFilesOnSignals(), so a signal
// that ends the program removes it.
class OutputFile final {
public:
    enum class NoReader {
        Fail,  // a FIFO without a reader is an error at once (a window must not hang)
        Wait,  // block until a process opens it for reading (what ">" does)
    };
    // How the bytes reach the target, as open() decided.
    enum class Way { Closed, Replace, InPlace, Through };

    OutputFile() = default;
    ~OutputFile();  // discards unless committed
    Q_DISABLE_COPY_MOVE(OutputFile)

    // True once the target is open for writing; false with error() otherwise.
    bool open(const std::string& path, NoReader noReader = NoReader::Fail);
    bool openStandardOutput();

    // Writes all of `bytes`; false with error() on failure (the file is then discarded at
    // commit()). A file to be renamed into place is sent on to the disk every few megabytes,
    // without waiting for it: commit()'s sync of a large file then has little left to wait
    // for, as the disk takes the bytes while the rest are being made.
    bool write(std::string_view bytes);
    bool write(const char* data, std::size_t size) { return write(std::string_view(data, size)); }

    // Puts the written bytes in place: renames the temporary file over the target, writes the
    // file in place, or closes the target written through. False with error() when anything
    // failed; the old file is then as it was, but where a write in place failed after its
    // space was reserved (an I/O error), which error() then says.
    bool commit();

    // Drops what was written: removes the temporary file; a file to be written in place is
    // left untouched. Nothing can be taken back from a device, FIFO or descriptor.
    void discard();

    // Commits files that stand together (a list and its report) all or none: each is synced
    // first, and those written in place, whose commit may still find the disk full, go before
    // those renamed into place, which then hardly fail. Once one fails the others not yet
    // committed are discarded, their old files kept. Files never opened are passed over. The
    // file that failed, or nullptr.
    static OutputFile* CommitTogether(std::initializer_list<OutputFile*> files);

    // Waits until what was written is on disk, for a file to be renamed into place: a writer
    // done early syncs its file while others still write theirs, and commit() then has little
    // left to wait for. A failure is kept for commit(), which then fails with it.
    void syncEarly();

    Way way() const { return way_; }
    const std::string& error() const { return error_; }

    // "-": standard output, by the command-line convention.
    static bool IsStandardOutputName(const std::string& path) { return path == "-"; }

private:
    bool fail(int errorNumber);
    bool fail(std::string text);
    void reset();
    bool openRegular(const std::string& target, NoReader noReader);
    bool openReplacement(const std::string& target, const struct stat* old);
    bool openDescriptor(int descriptor);
    bool openThrough(const std::string& target, NoReader noReader);
    bool commitInPlace();
    void startWriteback();

    Way way_ = Way::Closed;
    UniqueFd fd_;
    bool failed_ = false;
    std::uint64_t written_ = 0;         // Replace: bytes written
    std::uint64_t writtenBack_ = 0;     // Replace: of them, those sent on to the disk
    bool synced_ = false;               // Replace: syncEarly() put them all on disk
    std::string target_;                // Replace: the final, resolved name
    std::string temporary_;             // Replace: the file beside it that takes its place
    RegisteredTemporaryFile registry_;  // Replace: removes the temporary file on a signal
    PendingBytes pending_;              // InPlace: what was written, put in the file at commit()
    std::string error_;
};

}  // namespace orlenta
