#include "results/file_identity.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

namespace orlenta {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

// Calls `get` (a listxattr or getxattr) with a buffer that grows until the answer fits. A file
// system without extended attributes gives an empty answer.
bool Fetch(const std::function<ssize_t(char*, std::size_t)>& get, std::string& bytes) {
    for (;;) {
        const ssize_t size = get(nullptr, 0);
        if (size < 0) {
            bytes.clear();
            return errno == ENOTSUP;
        }
        bytes.resize(std::size_t(size));
        const ssize_t got = get(bytes.data(), bytes.size());
        if (got >= 0) {
            bytes.resize(std::size_t(got));
            return true;
        }
        if (errno != ERANGE) {  // ERANGE: it grew meanwhile
            return false;
        }
    }
}

std::vector<std::string> Names(const std::string& list) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = list.find('\0', at);
        names.push_back(list.substr(at, end - at));
        at = end == std::string::npos ? list.size() : end + 1;
    }
    return names;
}

bool CopyExtendedAttributes(const std::string& target, int fd) {
    std::string oldList;
    std::string newList;
    if (!Fetch([&](char* b, std::size_t n) { return ::listxattr(target.c_str(), b, n); },
               oldList) ||
        !Fetch([&](char* b, std::size_t n) { return ::flistxattr(fd, b, n); }, newList)) {
        return false;
    }
    const std::vector<std::string> oldNames = Names(oldList);
    for (const std::string& name : oldNames) {
        std::string value;
        std::string present;
        if (!Fetch([&](char* b,
                       std::size_t n) { return ::getxattr(target.c_str(), name.c_str(), b, n); },
                   value)) {
            return false;
        }
        const bool same =
            Fetch([&](char* b, std::size_t n) { return ::fgetxattr(fd, name.c_str(), b, n); },
                  present) &&
            present == value;
        if (!same && ::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) {
            return false;
        }
    }
    // What the new file got from its folder (a default ACL) and the old one did not have.
    for (const std::string& name : Names(newList)) {
        const bool kept = std::find(oldNames.begin(), oldNames.end(), name) != oldNames.end();
        if (!kept && ::fremovexattr(fd, name.c_str()) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool RenameReachesTheFile(const std::string& target, const struct stat& old) {
    struct stat folder {};
    if (old.st_nlink != 1 || ::stat(FolderOf(target).c_str(), &folder) != 0 ||
        folder.st_dev != old.st_dev) {
        return false;
    }
    const uid_t user = ::geteuid();
    return (folder.st_mode & S_ISVTX) == 0 || user == 0 || old.st_uid == user ||
           folder.st_uid == user;
}

bool TakeOverIdentity(const std::string& target, const struct stat& old, int fd) {
    struct stat now {};
    if (::fstat(fd, &now) != 0) {
        return false;
    }
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0 &&
        ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        return false;
    }
    if (!CopyExtendedAttributes(target, fd) || ::fchmod(fd, old.st_mode & 07777) != 0 ||
        ::fstat(fd, &now) != 0) {
        return false;
    }
    // The system may quietly drop what this user may not set (the set-group-ID bit of a group
    // the user is not in): only what came out counts.
    return now.st_uid == old.st_uid && now.st_gid == old.st_gid &&
           (now.st_mode & 07777) == (old.st_mode & 07777);
}

}  // namespace orlenta
