#include "sources/folder_walk.h"

#include "sources/folder_reader.h"

namespace orlenta {

namespace {

QByteArray WithoutSeparator(const QByteArray& folderEntry) {
    return folderEntry.endsWith(PathSeparator) ? folderEntry.chopped(1) : folderEntry;
}

// One call of the level-by-level walk: the subfolders of every entry `folders` holds now,
// then (recursing) theirs, all merged into `folders` at the end.
bool CollectLevel(FolderList& folders, bool recurse, FolderWalk& walk) {
    // Every name is yielded for, but only the folders are looked at, so only they need order.
    constexpr ReadOptions Visible{/*withHidden=*/false, /*withIdentity=*/true,
                                  EntryOrder::FoldersByName};
    FolderList newFolders;
    QList<FolderEntry> entries;
    QString error;
    const qsizetype count = folders.size();
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArray entry = folders.at(i);
        if (!ReadFolder(entry, Visible, entries, error)) {
            walk.noteUnreadable(WithoutSeparator(entry), error);
        }
        if (!walk.yield(ScanYieldPoint::FolderOpened)) {
            return false;
        }
        for (const FolderEntry& item : std::as_const(entries)) {
            if (!walk.yield(ScanYieldPoint::NameEnumerated)) {
                return false;
            }
            if (item.kind != EntryKind::Folder) {
                continue;
            }
            const QByteArray subfolder = entry + item.name + PathSeparator;
            if (walk.enter(subfolder, item.identity)) {
                newFolders.append(subfolder);
            }
        }
    }

    if (!newFolders.isEmpty() && recurse && !CollectLevel(newFolders, recurse, walk)) {
        return false;
    }

    folders.reserve(folders.size() + newFolders.size());
    for (const QByteArray& folder : std::as_const(newFolders)) {
        folders.append(folder);
        if (!walk.yield(ScanYieldPoint::FolderMerged)) {
            return false;
        }
    }
    return true;
}

}  // namespace

FolderWalk::FolderWalk(ScanYield yield) : yield_(std::move(yield)) {}

bool FolderWalk::yield(ScanYieldPoint point) {
    if (!stopped_ && yield_ && !yield_(point)) {
        stopped_ = true;
    }
    return !stopped_;
}

bool FolderWalk::enter(const QByteArray& folderEntry) {
    QString error;
    const QString identity = FolderIdentity(folderEntry, error);
    if (identity.isEmpty()) {
        noteUnreadable(WithoutSeparator(folderEntry), error);
        return false;
    }
    return enter(folderEntry, identity);
}

bool FolderWalk::enter(const QByteArray& folderEntry, const QString& identity) {
    if (identity.isEmpty()) {
        // Listed a moment ago, but gone or closed to us by the time it was looked at.
        return enter(folderEntry);
    }
    if (entered_.contains(identity)) {
        return false;
    }
    entered_.insert(identity);
    return true;
}

void FolderWalk::noteUnreadable(const QByteArray& folder, const QString& reason) {
    if (unreadablePaths_.contains(folder)) {
        return;
    }
    unreadablePaths_.insert(folder);
    unreadable_.append({folder, reason});
}

bool CollectSubfolders(FolderList& folders, bool recurse, FolderWalk& walk) {
    // The starting folders count as entered, so that a link back to one of them is not.
    for (const QByteArray& entry : std::as_const(folders)) {
        walk.enter(entry);
    }
    return CollectLevel(folders, recurse, walk);
}

QList<QByteArray> ListFolderFiles(const QByteArray& folder, QString* error) {
    constexpr ReadOptions All{/*withHidden=*/true, /*withIdentity=*/false};
    QByteArray withSeparator = folder;
    if (!withSeparator.endsWith(PathSeparator)) {
        withSeparator += PathSeparator;
    }
    QList<FolderEntry> entries;
    QString reason;
    ReadFolder(withSeparator, All, entries, reason);
    if (error != nullptr) {
        *error = reason;
    }
    QList<QByteArray> names;
    names.reserve(entries.size());
    for (const FolderEntry& entry : std::as_const(entries)) {
        if (entry.kind == EntryKind::File) {
            names.append(entry.name);
        }
    }
    return names;
}

}  // namespace orlenta
