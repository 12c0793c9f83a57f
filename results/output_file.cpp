#include "results/output_file.h"

#include "results/file_identity.h"
#include "results/file_writes.h"

#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace orlenta {

namespace {

// What a file to be renamed into place may have written before the disk is asked to take it.
constexpr std::uint64_t WritebackBytes = 8 << 20;

// Links are followed at most this often, as the kernel does (ELOOP after 40).
constexpr int MaxLinkHops = 40;

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

// Whether the system guards against links planted in /tmp (fs.protected_symlinks, on by
// default); so it is, when that cannot be read.
bool LinksProtected() {
    UniqueFd setting(OpenRetrying("/proc/sys/fs/protected_symlinks", O_RDONLY | O_CLOEXEC));
    char value = '1';
    return !setting || ::read(setting.get(), &value, 1) != 1 || value != '0';
}

// That guard, which following links by hand would bypass: in a sticky folder that anyone may
// write, a link is followed only when it belongs to this user or to the folder's owner.
bool MayFollow(const std::string& link, const struct stat& status) {
    if (!LinksProtected()) {
        return true;
    }
    struct stat folder {};
    if (::stat(FolderOf(link).c_str(), &folder) != 0) {
        return false;
    }
    const bool planted = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !planted || status.st_uid == ::geteuid() || status.st_uid == folder.st_uid;
}

// The descriptor a name such as /proc/self/fd/1 stands for, or -1: a number in this process's
// own descriptor folder, however it is spelt (/dev/fd, /proc/self/fd, /proc/PID/fd, with any
// links or "." on the way).
int OwnDescriptor(const std::string& path) {
    const std::string name = BaseName(path);
    if (name.empty() || name.size() > 9 ||
        name.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    char* real = ::realpath(FolderOf(path).c_str(), nullptr);
    if (real == nullptr) {
        return -1;
    }
    // /proc/thread-self/fd leads to /proc/PID/task/TID/fd: the threads share one table.
    const std::string folder = real;
    const std::string process = "/proc/" + std::to_string(::getpid());
    const bool own = folder == process + "/fd" ||
                     (folder.compare(0, process.size() + 6, process + "/task/") == 0 &&
                      folder.size() > 3 && folder.compare(folder.size() - 3, 3, "/fd") == 0);
    std::free(real);
    return own ? std::atoi(name.c_str()) : -1;
}

// Follows the chain of symbolic links at `path` to the name at its end, which need not exist
// (a dangling link's target is where a new file goes), or to one of this process's own
// descriptors, given in `descriptor` (-1 otherwise): their /proc links name what the descriptor
// was opened on, not the descriptor. False with errno set when a link cannot be read or the
// chain does not end.
bool ResolveLinks(std::string& path, int& descriptor) {
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        descriptor = OwnDescriptor(path);
        struct stat status {};
        if (descriptor >= 0 || ::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return true;
        }
        if (!MayFollow(path, status)) {
            errno = EACCES;
            return false;
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

void ClearNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
}

// Makes sure the disk holds `size` bytes for `fd` from its start, without changing its content
// or its length. Where the file system cannot reserve, the pending bytes are written after the
// old end instead (which needs the old length and the new one together), to be moved down by
// the caller. Either way a full disk or quota shows here, and the file is as it was.
bool Reserve(int fd, off_t oldSize, const PendingBytes& pending) {
    const off_t size = off_t(pending.size());
    if (size == 0) {
        return true;
    }
    // The process's own limit on file sizes is not the disk's: reserving ignores it, writing
    // would stop at it half-way.
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        std::uint64_t(size) > std::uint64_t(limit.rlim_cur)) {
        errno = EFBIG;
        return false;
    }
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        return false;
    }
    int result = 0;
    do {
        result = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        return true;
    }
    const bool cannotReserve = errno == EOPNOTSUPP || errno == ENOSYS;
    if (cannotReserve && pending.copyTo(fd, oldSize)) {
        return true;
    }
    // Gives back what a failed attempt took beyond the old end (a part of the reservation, a
    // part of the bytes), which only cutting the file at its old length does. Not otherwise:
    // that would change the file's time.
    const int error = errno;
    struct stat after {};
    if (::fstat(fd, &after) == 0 &&
        (after.st_size != oldSize || after.st_blocks > before.st_blocks) &&
        ::ftruncate(fd, oldSize) != 0) {
        // The content is the old one either way.
    }
    errno = error;
    return false;
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
    int descriptor = -1;
    if (!ResolveLinks(target, descriptor)) {
        return fail(errno);
    }
    if (descriptor >= 0) {
        return openDescriptor(descriptor);
    }
    struct stat status {};
    if (::stat(target.c_str(), &status) != 0) {
        return errno == ENOENT ? openReplacement(target, nullptr) || fail(errno) : fail(errno);
    }
    if (S_ISDIR(status.st_mode)) {
        return fail(EISDIR);
    }
    if (!S_ISREG(status.st_mode)) {
        return openThrough(target, S_ISFIFO(status.st_mode) ? noReader : NoReader::Wait);
    }
    return openRegular(target, noReader);
}

bool OutputFile::openStandardOutput() {
    discard();
    failed_ = false;
    error_.clear();
    return openDescriptor(STDOUT_FILENO);
}

bool OutputFile::openRegular(const std::string& target, NoReader noReader) {
    // Should a FIFO or a link have taken the file's place since stat(), opening it must neither
    // wait for a reader nor go elsewhere.
    UniqueFd fd(OpenRetrying(target, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    struct stat old {};
    if (!fd || ::fstat(fd.get(), &old) != 0) {
        return fail(errno);
    }
    if (!S_ISREG(old.st_mode)) {
        fd.reset();
        return openThrough(target, noReader);
    }
    ClearNonBlocking(fd.get());
    if (RenameReachesTheFile(target, old) && openReplacement(target, &old)) {
        return true;
    }
    way_ = Way::InPlace;
    fd_ = std::move(fd);
    return true;
}

// False with errno set, or for an existing file (`old`) that the replacement would not be
// identical to; the object is then as before.
bool OutputFile::openReplacement(const std::string& target, const struct stat* old) {
    UniqueFd fd;
    std::string temporary;
    RegisteredTemporaryFile registry;
    {
        // The file and its registration come together: a signal in between would leave it.
        const TerminatingSignalsBlocked blocked;
        do {
            temporary = TemporaryName(target);
            // A new file as ">" creates it (0666, the umask applies); a replacement private
            // until it has the old file's mode.
            fd =
                UniqueFd(OpenRetrying(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                                      old == nullptr ? 0666 : 0600));
        } while (!fd && errno == EEXIST);
        if (fd) {
            registry = RegisteredTemporaryFile(temporary);
        }
    }
    if (!fd) {
        return false;
    }
    if (old != nullptr && !TakeOverIdentity(target, *old, fd.get())) {
        fd.reset();
        ::unlink(temporary.c_str());
        return false;
    }
    way_ = Way::Replace;
    fd_ = std::move(fd);
    target_ = target;
    temporary_ = std::move(temporary);
    registry_ = std::move(registry);
    return true;
}

bool OutputFile::openDescriptor(int descriptor) {
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
        return fail(EBADF);
    }
    // A duplicate shares the offset and the flags, and closing it leaves the original open.
    UniqueFd fd(::fcntl(descriptor, F_DUPFD_CLOEXEC, 0));
    if (!fd) {
        return fail(errno);
    }
    way_ = Way::Through;
    fd_ = std::move(fd);
    return true;
}

bool OutputFile::openThrough(const std::string& target, NoReader noReader) {
    // O_NONBLOCK makes opening a FIFO without a reader fail with ENXIO instead of waiting.
    const int flags =
        O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | (noReader == NoReader::Fail ? O_NONBLOCK : 0);
    UniqueFd fd(OpenRetrying(target, flags));
    if (!fd) {
        return errno == ENXIO && noReader == NoReader::Fail ? fail("No process is reading from it")
                                                            : fail(errno);
    }
    // Once open, writes wait for the reader like any others.
    ClearNonBlocking(fd.get());
    way_ = Way::Through;
    fd_ = std::move(fd);
    return true;
}

bool OutputFile::write(std::string_view bytes) {
    if (failed_) {
        return false;
    }
    if (!fd_) {
        return fail(EBADF);
    }
    if (way_ == Way::InPlace) {
        return pending_.append(bytes) || fail(pending_.error());
    }
    if (!WriteAll(fd_.get(), bytes.data(), bytes.size())) {
        return fail(errno);
    }
    written_ += bytes.size();
    synced_ = false;
    if (way_ == Way::Replace && written_ - writtenBack_ >= WritebackBytes) {
        startWriteback();
    }
    return true;
}

void OutputFile::syncEarly() {
    if (way_ != Way::Replace || failed_ || synced_) {
        return;
    }
    // Kept, not retried: a second fsync after a failed one may report success for pages the
    // system has already dropped.
    if (::fsync(fd_.get()) != 0) {
        fail(errno);
        return;
    }
    synced_ = true;
}

void OutputFile::startWriteback() {
    // Advice only: a failure to write shows at commit()'s fsync all the same.
    ::sync_file_range(fd_.get(), off64_t(writtenBack_), off64_t(written_ - writtenBack_),
                      SYNC_FILE_RANGE_WRITE);
    writtenBack_ = written_;
}

bool OutputFile::commitInPlace() {
    struct stat old {};
    if (::fstat(fd_.get(), &old) != 0 || !Reserve(fd_.get(), old.st_size, pending_)) {
        return false;
    }
    const TerminatingSignalsBlocked blocked;
    return pending_.copyTo(fd_.get(), 0) && ::ftruncate(fd_.get(), off_t(pending_.size())) == 0 &&
           ::fsync(fd_.get()) == 0;
}

bool OutputFile::commit() {
    if (failed_ || way_ == Way::Closed) {
        discard();
        return failed_ ? false : fail(EBADF);
    }
    bool done = true;
    switch (way_) {
        case Way::Closed:
        case Way::Through:
            break;
        case Way::InPlace:
            done = commitInPlace();
            break;
        case Way::Replace:
            // On disk before it takes the old file's place, so that a crash leaves one of the
            // two complete. Synced already when nothing came after syncEarly(): a second
            // fsync would only flush the disk's cache once more.
            done = synced_ || ::fsync(fd_.get()) == 0;
            break;
    }
    int error = done ? 0 : errno;
    // close() reports a failed write that the file system kept for the end (NFS).
    if (::close(fd_.release()) != 0 && errno != EINTR && error == 0) {
        error = errno;
    }
    if (error != 0) {
        discard();
        return fail(error);
    }
    if (way_ == Way::Replace) {
        const TerminatingSignalsBlocked blocked;
        if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
            const int error = errno;
            discard();
            return fail(error);
        }
        registry_.release();
    }
    reset();
    return true;
}

OutputFile* OutputFile::CommitTogether(std::initializer_list<OutputFile*> files) {
    for (OutputFile* file : files) {
        file->syncEarly();
    }
    OutputFile* failed = nullptr;
    for (const bool inPlace : {true, false}) {
        for (OutputFile* file : files) {
            if (file->way_ == Way::Closed || (file->way_ == Way::InPlace) != inPlace) {
                continue;
            }
            if (failed != nullptr) {
                file->discard();
            } else if (!file->commit()) {
                failed = file;
            }
        }
    }
    return failed;
}

void OutputFile::discard() {
    fd_.reset();
    if (way_ == Way::Replace) {
        ::unlink(temporary_.c_str());
    }
    reset();
}

void OutputFile::reset() {
    fd_.reset();
    registry_.release();
    way_ = Way::Closed;
    target_.clear();
    temporary_.clear();
    pending_.clear();
    written_ = 0;
    writtenBack_ = 0;
    synced_ = false;
}

}  // namespace orlenta
