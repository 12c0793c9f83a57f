#include "folder_reader.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#endif

namespace orlenta {

namespace {

// Sorts by the names as they are shown; each name is decoded once, not once per comparison.
void SortByName(QList<FolderEntry>& entries) {
    struct Keyed {
        QString shown;
        qsizetype index;
    };
    QList<Keyed> keys;
    keys.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        keys.append({QFile::decodeName(entries.at(i).name), i});
    }
    std::sort(keys.begin(), keys.end(), [&entries](const Keyed& a, const Keyed& b) {
        const int folded = a.shown.compare(b.shown, Qt::CaseInsensitive);
        if (folded != 0) {
            return folded < 0;
        }
        const int exact = a.shown.compare(b.shown, Qt::CaseSensitive);
        // Two names that show alike (bytes invalid in the encoding) keep an order of their own.
        return exact != 0 ? exact < 0 : entries.at(a.index).name < entries.at(b.index).name;
    });
    QList<FolderEntry> sorted;
    sorted.reserve(entries.size());
    for (const Keyed& key : std::as_const(keys)) {
        sorted.append(std::move(entries[key.index]));
    }
    entries = std::move(sorted);
}

QString WhyUnreadable(const QFileInfo& info) {
    if (!info.exists()) {
        return QStringLiteral("No such file or directory");
    }
    if (!info.isDir()) {
        return QStringLiteral("Not a directory");
    }
    if (!info.isReadable()) {
        return QStringLiteral("Permission denied");
    }
    return {};
}

#ifdef Q_OS_UNIX

QString ErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString Identity(const struct stat& status) {
    return QString::number(quint64(status.st_dev)) + QLatin1Char(':') +
           QString::number(quint64(status.st_ino));
}

class OpenFolder final {
public:
    explicit OpenFolder(const QByteArray& folder)
        : dir_(::opendir(folder.constData())), error_(dir_ ? 0 : errno) {}
    ~OpenFolder() {
        if (dir_ != nullptr) {
            ::closedir(dir_);
        }
    }
    Q_DISABLE_COPY_MOVE(OpenFolder)

    DIR* get() const { return dir_; }
    int error() const { return error_; }

private:
    DIR* dir_;
    int error_;
};

// What `name` in the open folder is, links followed; fills `status` when it had to look.
EntryKind KindOf(int folderFd, const dirent& entry, struct stat& status, bool& haveStatus) {
    switch (entry.d_type) {
        case DT_REG:
            return EntryKind::File;
        case DT_DIR:
            return EntryKind::Folder;
        case DT_LNK:
        case DT_UNKNOWN:
            break;
        default:
            return EntryKind::Other;
    }
    haveStatus = ::fstatat(folderFd, entry.d_name, &status, 0) == 0;
    if (!haveStatus) {
        return EntryKind::Other;  // a broken link, or gone since it was listed
    }
    if (S_ISREG(status.st_mode)) {
        return EntryKind::File;
    }
    return S_ISDIR(status.st_mode) ? EntryKind::Folder : EntryKind::Other;
}

#endif

}  // namespace

bool ReadFolderWithQt(const QByteArray& folder, ReadOptions options, QList<FolderEntry>& entries,
                      QString& error) {
    entries.clear();
    error.clear();
    QDir::Filters filters = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
    if (options.withHidden) {
        filters |= QDir::Hidden;
    }
    {
        QDirIterator it(QFile::decodeName(folder), filters);
        while (it.hasNext()) {
            it.next();
            const QFileInfo info = it.fileInfo();
            FolderEntry entry{QFile::encodeName(info.fileName()), EntryKind::Other, {}};
            if (info.isFile()) {
                entry.kind = EntryKind::File;
            } else if (info.isDir()) {
                entry.kind = EntryKind::Folder;
                if (options.withIdentity) {
                    entry.identity = info.canonicalFilePath();
                }
            }
            entries.append(std::move(entry));
        }
    }
    // QDirIterator ends quietly on a folder it cannot open; look for the reason only when
    // nothing came out.
    if (entries.isEmpty()) {
        error = WhyUnreadable(QFileInfo(QFile::decodeName(folder)));
        return error.isEmpty();
    }
    SortByName(entries);
    return true;
}

#ifdef Q_OS_UNIX

bool ReadFolder(const QByteArray& folder, ReadOptions options, QList<FolderEntry>& entries,
                QString& error) {
    entries.clear();
    error.clear();
    const OpenFolder open(folder);
    if (open.get() == nullptr) {
        error = ErrorText(open.error());
        return false;
    }
    const int folderFd = ::dirfd(open.get());
    for (;;) {
        errno = 0;  // readdir tells the end from a failure only through errno
        const dirent* entry = ::readdir(open.get());
        if (entry == nullptr) {
            if (errno != 0) {
                error = ErrorText(errno);
                entries.clear();
                return false;
            }
            break;
        }
        const char* name = entry->d_name;
        const bool hidden = name[0] == '.';
        if (hidden && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;  // "." and ".."
        }
        if (hidden && !options.withHidden) {
            continue;
        }
        struct stat status {};
        bool haveStatus = false;
        FolderEntry item{QByteArray(name), KindOf(folderFd, *entry, status, haveStatus), {}};
        if (item.kind == EntryKind::Folder && options.withIdentity) {
            if (haveStatus || ::fstatat(folderFd, name, &status, 0) == 0) {
                item.identity = Identity(status);
            }
        }
        entries.append(std::move(item));
    }
    SortByName(entries);
    return true;
}

QString FolderIdentity(const QByteArray& folder, QString& error) {
    struct stat status {};
    if (::stat(folder.constData(), &status) != 0) {
        error = ErrorText(errno);
        return {};
    }
    if (!S_ISDIR(status.st_mode)) {
        error = ErrorText(ENOTDIR);
        return {};
    }
    error.clear();
    return Identity(status);
}

#else

bool ReadFolder(const QByteArray& folder, ReadOptions options, QList<FolderEntry>& entries,
                QString& error) {
    return ReadFolderWithQt(folder, options, entries, error);
}

QString FolderIdentity(const QByteArray& folder, QString& error) {
    const QFileInfo info(QFile::decodeName(folder));
    error = WhyUnreadable(info);
    if (!error.isEmpty()) {
        return {};
    }
    return info.canonicalFilePath();
}

#endif

}  // namespace orlenta
