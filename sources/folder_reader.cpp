#include "sources/folder_reader.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <vector>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#endif

namespace orlenta {

namespace {

bool IsAscii(const QByteArray& name) {
    return std::all_of(name.cbegin(), name.cend(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Sorts the first `count` entries by a key made once per entry (not once per comparison);
// `compare` orders two keys as memcmp does, and equal keys are ordered by the names' bytes.
template <typename MakeKey, typename KeyCompare>
void SortByKey(QList<FolderEntry>& entries, qsizetype count, MakeKey makeKey, KeyCompare compare) {
    struct Keyed {
        decltype(makeKey(QByteArray())) key;
        qsizetype index;
    };
    std::vector<Keyed> keys;
    keys.reserve(static_cast<std::size_t>(count));
    for (qsizetype i = 0; i < count; ++i) {
        keys.push_back({makeKey(entries.at(i).name), i});
    }
    std::sort(keys.begin(), keys.end(), [&](const Keyed& a, const Keyed& b) {
        const int order = compare(a.key, b.key);
        return order != 0 ? order < 0 : entries.at(a.index).name < entries.at(b.index).name;
    });
    QList<FolderEntry> sorted;
    sorted.reserve(entries.size());
    for (const Keyed& key : keys) {
        sorted.append(std::move(entries[key.index]));
    }
    for (qsizetype i = count; i < entries.size(); ++i) {
        sorted.append(std::move(entries[i]));
    }
    entries = std::move(sorted);
}

// A name lowered, with its first eight bytes as a number that orders as they do: most
// comparisons end there.
struct LoweredName {
    std::uint64_t prefix = 0;
    QByteArray bytes;

    explicit LoweredName(const QByteArray& name) : bytes(name.toLower()) {
        for (qsizetype i = 0; i < 8; ++i) {
            prefix = prefix << 8 | (i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0);
        }
    }
    int compare(const LoweredName& other) const {
        if (prefix != other.prefix) {
            return prefix < other.prefix ? -1 : 1;
        }
        return bytes.compare(other.bytes);
    }
};

// Sorts the first `count` entries by the names as they are shown (QFile::decodeName):
// case-insensitive, ties broken by the exact text; two names that show alike (bytes invalid in
// the encoding) by their bytes. Names that are all ASCII show as their bytes, and folding their
// case is lowering A to Z, so they sort by their lowered bytes without being decoded: a folder
// of 200,000 names sorts in a fraction of the time.
void SortByName(QList<FolderEntry>& entries, qsizetype count) {
    if (std::all_of(entries.cbegin(), entries.cbegin() + count,
                    [](const FolderEntry& entry) { return IsAscii(entry.name); })) {
        SortByKey(
            entries, count, [](const QByteArray& name) { return LoweredName(name); },
            [](const LoweredName& a, const LoweredName& b) { return a.compare(b); });
        return;
    }
    SortByKey(
        entries, count, [](const QByteArray& name) { return QFile::decodeName(name); },
        [](const QString& a, const QString& b) {
            const int folded = a.compare(b, Qt::CaseInsensitive);
            return folded != 0 ? folded : a.compare(b, Qt::CaseSensitive);
        });
}

void PutInOrder(QList<FolderEntry>& entries, EntryOrder order) {
    qsizetype count = entries.size();
    if (order == EntryOrder::FoldersByName) {
        const auto others = std::stable_partition(
            entries.begin(), entries.end(),
            [](const FolderEntry& entry) { return entry.kind == EntryKind::Folder; });
        count = others - entries.begin();
    }
    SortByName(entries, count);
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
    PutInOrder(entries, options.order);
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
    PutInOrder(entries, options.order);
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
