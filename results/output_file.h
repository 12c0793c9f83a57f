#pragma once

#include <QtGlobal>

#include <cstddef>
#include <string>
#include <string_view>

namespace orlenta {

// An output file that never destroys what it replaces. The path is the file name's bytes, as
// the system takes them (argv, a dialog's answer through QFile::encodeName).
//
//   OutputFile out;
//   if (!out.open(path) || !out.write(bytes) || !out.commit()) { report(out.error()); }
//
// What open() does depends on what the path names, symbolic links followed to the end (a
// link stays a link and its final target gets the bytes; a dangling link's target is created):
//   - nothing, or a regular file: the bytes go to a temporary file beside it, which takes its
//     place at commit() only when everything was written. A replaced file keeps its
//     permissions and, where the process may, its owner and group. On any failure, or when
//     the object goes away without commit(), the old file keeps every byte and no temporary
//     file is left. A file whose permissions refuse writing is refused, as ">" refuses it.
//   - a regular file in a folder that takes no new files (no write access) while the file
//     itself is writable: written in place, as ">" would, but only at commit(): until then the
//     bytes are held in memory, so a file that is also being read as an input is read whole.
//     If that write fails, the old content is put back (for files up to 64 MiB).
//   - a device, a FIFO or a socket: written through, like the shell's ">", never replaced. A
//     FIFO that no process reads from fails with "No process is reading from it" unless
//     NoReader::Wait asks to wait for one, as ">" does.
//   - a folder: refused ("Is a directory").
// openStandardOutput() writes to file descriptor 1; IsStandardOutputName tells whether a
// command-line output name ("-") means it.
//
// write() may be called any number of times between open() and commit(). All calls are cheap
// wrappers over the system calls; nothing is buffered here but in the in-place case. Errors are the
// system's texts ("Permission denied", "No space left on device"), in the locale's encoding.
class OutputFile final {
public:
    enum class NoReader {
        Fail,  // a FIFO without a reader is an error at once (a window must not hang)
        Wait,  // block until a process opens it for reading (what ">" does)
    };

    OutputFile() = default;
    ~OutputFile();  // discards unless committed
    Q_DISABLE_COPY_MOVE(OutputFile)

    // True once the target is open for writing; false with error() otherwise.
    bool open(const std::string& path, NoReader noReader = NoReader::Fail);
    bool openStandardOutput();

    // Writes all of `bytes`; false with error() on failure (the file is then discarded at
    // commit()).
    bool write(std::string_view bytes);
    bool write(const char* data, std::size_t size) { return write(std::string_view(data, size)); }

    // Puts the written bytes in place: renames the temporary file over the target, or closes
    // the file written in place or through. False with error() when anything failed, in which
    // case the old file is as it was. Nothing happens to standard output but the check for
    // earlier write errors.
    bool commit();

    // Drops what was written: removes the temporary file, or puts back the old content of a
    // file written in place. Nothing can be taken back from a device, FIFO or standard output.
    void discard();

    const std::string& error() const { return error_; }

    // "-": standard output, by the command-line convention.
    static bool IsStandardOutputName(const std::string& path) { return path == "-"; }

private:
    enum class Mode { Closed, Replace, InPlace, Through, StandardOutput };

    bool fail(int errorNumber);
    bool fail(std::string text);
    bool openReplacement(const std::string& target, bool targetExists);
    bool openInPlace(const std::string& target);
    bool openThrough(const std::string& target, NoReader noReader);
    void close();

    Mode mode_ = Mode::Closed;
    int fd_ = -1;
    bool failed_ = false;
    std::string target_;     // the final, resolved name that receives the bytes
    std::string temporary_;  // Replace: the file beside it that takes its place
    std::string pending_;    // InPlace: what was written, put in the file at commit()
    std::string backup_;     // InPlace: the old content, to put back on failure
    bool haveBackup_ = false;
    std::string error_;
};

}  // namespace orlenta
