#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>

namespace orlenta {

// The pieces of the folder scan that touch the file system: the walk down a folder tree for
// its subfolders and the listing of one folder's files (both read folders through
// folder_reader.h, in name order).
//
// Folder lists hold paths that end in the separator ("/home/ann/", "/home/ann/Docs/"). Paths
// are the system's bytes, joined as they are and never normalised, so a walk from the root
// folder gives "//" and "//Docs/"; such paths name the same folders as their single-separator
// forms. A name that is not valid in the locale's encoding is carried unchanged.

// The list of folders a walk builds, each ending in the separator.
using FolderList = QList<QByteArray>;

// What joins a folder and a name.
#ifdef Q_OS_WIN
inline constexpr char PathSeparator = '\\';
#else
inline constexpr char PathSeparator = '/';
#endif

// Where a walk hands control back to its caller (the window yields to its event loop there).
enum class ScanYieldPoint {
    FolderOpened,    // once per folder, after its enumeration for subfolders has started
    NameEnumerated,  // once per visible name that enumeration returns, files and folders alike
    FolderMerged,    // once per folder merged into the caller's folder list, at every level
    FolderFiles,     // once per folder, before its files are listed (ScanFolder only)
};

// Return false to stop at once, e.g. because the window is closing.
using ScanYield = std::function<bool(ScanYieldPoint)>;

struct UnreadableFolder {
    QByteArray path;  // without the final separator
    QString reason;   // "Permission denied", "No longer there", ...
};

// What one walk remembers: the folders entered so far, the folders that could not be read, and
// whether its caller asked it to stop. Each scan has its own; nothing is shared between scans.
class FolderWalk final {
public:
    explicit FolderWalk(ScanYield yield = {});
    Q_DISABLE_COPY_MOVE(FolderWalk)

    // Calls the hook. False once the hook has asked to stop, and from then on.
    bool yield(ScanYieldPoint point);
    bool stopped() const { return stopped_; }

    // True the first time a folder is met, whichever way the walk came to it. A folder met
    // again (a link back to an ancestor, a second link to the same folder) gives false and is
    // not entered; so does a folder that cannot be looked at, which is noted as unreadable.
    bool enter(const QByteArray& folderEntry);
    // The same when the folder's identity (FolderEntry::identity) is already known; an empty
    // identity means the folder could not be looked at.
    bool enter(const QByteArray& folderEntry, const QString& identity);

    // Notes a folder that could not be read; each folder is noted once.
    void noteUnreadable(const QByteArray& folder, const QString& reason);
    const QList<UnreadableFolder>& unreadable() const { return unreadable_; }

private:
    ScanYield yield_;
    bool stopped_ = false;
    QSet<QString> entered_;  // identities of the folders entered
    QSet<QByteArray> unreadablePaths_;
    QList<UnreadableFolder> unreadable_;
};

// Extends `folders` (each entry ending in the separator) with every subfolder of its entries at
// any depth, in level order: all subfolders of the first entry, then of the second, and so on,
// then their subfolders in the same way. Hidden folders (names beginning with ".") are never
// entered, nor is any folder entered twice. Folders that cannot be read are noted in `walk` and
// passed over. With `recurse` false only the first level below the entries is added.
// Yields as ScanYieldPoint describes. False when the walk was stopped (`folders` is then
// incomplete).
bool CollectSubfolders(FolderList& folders, bool recurse, FolderWalk& walk);

// The bare names of the regular files in `folder` (with or without the final separator),
// hidden ones included, in name order. Links to files count as files; folders, broken links,
// FIFOs, sockets and devices are not listed: they are nothing a user means to extract from,
// and reading a FIFO would wait for a writer. A folder that cannot be read gives no names and
// the reason in `error` (left empty otherwise).
QList<QByteArray> ListFolderFiles(const QByteArray& folder, QString* error = nullptr);

}  // namespace orlenta
