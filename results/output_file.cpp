#include "results/output_file.h"

#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orlenta {

namespace {

// Links are followed at most this often, as the kernel does (ELOOP after 40).
constexpr int MaxLinkHops = 40;

// The old content of a file written in place is kept to put it back on failure up to this
// size; a save meets larger files only when the user picked one by mistake.
constexpr off_t MaxBackupBytes = off_t(64) << 20;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.back() == '/' ? folder + name : folder + '/' + name;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReadLink(const std::string& path, std::string& target) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t size = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (size < 0) {
            return false;
        }
        if (static_cast<std::size_t>(size) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(size));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// The name at the end of a chain of symbolic links, which need not exist (a dangling link's
// target is where a new file goes). False with errno set when a link cannot be read or the
// chain does not end.
bool ResolveLinks(std::string& path) {
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return true;
        }
        std::string target;
        if (!ReadLink(path, target)) {
            return false;
        }
        path = !target.empty() && target.front() == '/' ? target : Join(FolderOf(path), target);
    }
    errno = ELOOP;
    return false;
}

// A hidden name beside the target that no other process is likely to pick.
std::string TemporaryName(const std::string& target) {
    static constexpr char Letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name = "." + BaseName(target).substr(0, 200) + ".";
    for (int i = 0; i < 8; ++i) {
        name += Letters[QRandomGenerator::global()->bounded(int(sizeof(Letters) - 1))];
    }
    return Join(FolderOf(target), name);
}

int OpenRetrying(const std::string& path, int flags, mode_t mode = 0) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Reads the whole of `fd` from its start; false when it cannot, or is too large to keep.
bool ReadWhole(int fd, std::string& bytes) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size > MaxBackupBytes) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + done, bytes.size() - done, off_t(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;  // an error, or the file shrank meanwhile
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::fail(int errorNumber) {
    return fail(std::strerror(errorNumber));
}

bool OutputFile::fail(std::string text) {
    failed_ = true;
    error_ = std::move(text);
    return false;
}

bool OutputFile::open(const std::string& path, NoReader noReader) {
    discard();
    failed_ = false;
    error_.clear();
    if (path.empty()) {
        return fail(ENOENT);
    }
    std::string target = path;
    if (!ResolveLinks(target)) {
        return fail(errno);
    }
    struct stat status {};
    if (::stat(target.c_str(), &status) != 0) {
        return errno == ENOENT ? openReplacement(target, false) : fail(errno);
    }
    if (S_ISDIR(status.st_mode)) {
        return fail(EISDIR);
    }
    if (!S_ISREG(status.st_mode)) {
        return openThrough(target, S_ISFIFO(status.st_mode) ? noReader : NoReader::Wait);
    }
    // Replacing needs only the folder's permission; the file's own says whether it may change.
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        return fail(errno);
    }
    return openReplacement(target, true);
}

bool OutputFile::openStandardOutput() {
    discard();
    failed_ = false;
    error_.clear();
    if (::fcntl(STDOUT_FILENO, F_GETFL) < 0) {
        return fail(errno);
    }
    mode_ = Mode::StandardOutput;
    fd_ = STDOUT_FILENO;
    return true;
}

bool OutputFile::openReplacement(const std::string& target, bool targetExists) {
    struct stat old {};
    if (targetExists && ::stat(target.c_str(), &old) != 0) {
        return fail(errno);
    }
    int fd = -1;
    std::string temporary;
    do {
        temporary = TemporaryName(target);
        // 0666 as ">" creates a file: the umask applies, and a replaced file's mode below.
        fd = OpenRetrying(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    } while (fd < 0 && errno == EEXIST);
    if (fd < 0) {
        // No room for a new file in the folder, yet the file itself may be written.
        if (targetExists && (errno == EACCES || errno == EPERM)) {
            return openInPlace(target);
        }
        return fail(errno);
    }
    mode_ = Mode::Replace;
    fd_ = fd;
    target_ = target;
    temporary_ = temporary;
    if (targetExists) {
        // The owner first: a change of owner clears the set-user-ID bits that fchmod restores.
        // Only root may give a file away; a member of the file's group may keep the group.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0 &&
            ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // Neither: the new file belongs to this process, as a file written anew would.
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            const int error = errno;
            discard();
            return fail(error);
        }
    }
    return true;
}

bool OutputFile::openInPlace(const std::string& target) {
    int fd = OpenRetrying(target, O_RDWR | O_CLOEXEC | O_NOCTTY);
    const bool readable = fd >= 0;
    if (!readable) {
        fd = OpenRetrying(target, O_WRONLY | O_CLOEXEC | O_NOCTTY);
    }
    if (fd < 0) {
        return fail(errno);
    }
    mode_ = Mode::InPlace;
    fd_ = fd;
    target_ = target;
    // Left as it is until commit(): it may be one of the inputs still to be read (orlenta-extract
    // -o list.txt list.txt). Then the new bytes overwrite the old ones from the start and the
    // file is cut to their length.
    haveBackup_ = readable && ReadWhole(fd, backup_);
    if (!haveBackup_) {
        backup_.clear();
    }
    return true;
}

bool OutputFile::openThrough(const std::string& target, NoReader noReader) {
    // O_NONBLOCK makes opening a FIFO without a reader fail with ENXIO instead of waiting.
    const int flags =
        O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | (noReader == NoReader::Fail ? O_NONBLOCK : 0);
    const int fd = OpenRetrying(target, flags);
    if (fd < 0) {
        return errno == ENXIO && noReader == NoReader::Fail ? fail("No process is reading from it")
                                                            : fail(errno);
    }
    if ((flags & O_NONBLOCK) != 0) {
        // Once open, writes wait for the reader like any others.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    mode_ = Mode::Through;
    fd_ = fd;
    target_ = target;
    return true;
}

bool OutputFile::write(std::string_view bytes) {
    if (failed_) {
        return false;
    }
    if (fd_ < 0) {
        return fail(EBADF);
    }
    if (mode_ == Mode::InPlace) {
        pending_.append(bytes);
        return true;
    }
    return WriteAll(fd_, bytes.data(), bytes.size()) || fail(errno);
}

bool OutputFile::commit() {
    if (failed_ || mode_ == Mode::Closed) {
        discard();
        return failed_ ? false : fail(EBADF);
    }
    switch (mode_) {
        case Mode::Closed:
        case Mode::StandardOutput:
            break;
        case Mode::Through:
            break;
        case Mode::InPlace: {
            if (::lseek(fd_, 0, SEEK_SET) != 0 ||
                !WriteAll(fd_, pending_.data(), pending_.size()) ||
                ::ftruncate(fd_, off_t(pending_.size())) != 0 || ::fsync(fd_) != 0) {
                const int error = errno;
                discard();
                return fail(error);
            }
            break;
        }
        case Mode::Replace:
            // On disk before it takes the old file's place, so that a crash leaves one of the
            // two complete.
            if (::fsync(fd_) != 0) {
                const int error = errno;
                discard();
                return fail(error);
            }
            break;
    }
    const Mode mode = mode_;
    if (mode != Mode::StandardOutput && ::close(fd_) != 0 && errno != EINTR) {
        const int error = errno;
        fd_ = -1;
        discard();
        return fail(error);
    }
    fd_ = -1;
    if (mode == Mode::Replace && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        discard();
        return fail(error);
    }
    temporary_.clear();
    pending_.clear();
    backup_.clear();
    haveBackup_ = false;
    mode_ = Mode::Closed;
    return true;
}

void OutputFile::discard() {
    switch (mode_) {
        case Mode::Closed:
        case Mode::StandardOutput:
            break;
        case Mode::Replace:
            close();
            ::unlink(temporary_.c_str());
            break;
        case Mode::InPlace:
            if (haveBackup_ && fd_ >= 0) {
                (void)(::lseek(fd_, 0, SEEK_SET) == 0 &&
                       WriteAll(fd_, backup_.data(), backup_.size()) &&
                       ::ftruncate(fd_, off_t(backup_.size())) == 0);
            }
            close();
            break;
        case Mode::Through:
            close();
            break;
    }
    mode_ = Mode::Closed;
    fd_ = -1;
    temporary_.clear();
    pending_.clear();
    backup_.clear();
    haveBackup_ = false;
}

void OutputFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace orlenta
