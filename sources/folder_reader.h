#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace orlenta {

// One enumeration of one folder: its names with what each one is, links followed. The folder
// walk reads every folder twice through this, once for subfolders and once for files. Names
// and folders are the system's bytes (QFile::encodeName of a name Qt gives as text): a name
// that is not valid in the locale's encoding would not survive a trip through QString.

enum class EntryKind {
    File,    // a regular file, or a link to one
    Folder,  // a folder, or a link to one
    Other,   // FIFO, socket, device, broken link: nothing a user means to extract from
};

struct FolderEntry {
    QByteArray name;
    EntryKind kind = EntryKind::Other;
    // For folders when asked for: what makes two paths the same folder (device and inode on
    // Unix, so that links and bind mounts are seen through; the canonical path elsewhere).
    QString identity;
};

// Which entries come in name order (see ReadFolder).
enum class EntryOrder {
    AllByName,
    // The folders first, in name order, then the other entries in no particular order: all a
    // walk down the subfolders needs, without sorting a folder of 200,000 files.
    FoldersByName,
};

struct ReadOptions {
    bool withHidden = false;    // names beginning with "." (the hidden attribute elsewhere)
    bool withIdentity = false;  // fill FolderEntry::identity for folders
    EntryOrder order = EntryOrder::AllByName;
};

// Reads the entries of `folder` but "." and "..", sorted in name order: case-insensitive, ties
// broken by the exact text (as the names are shown, QFile::decodeName), the order in which
// NTFS lists a folder. False when the folder
// cannot be read, with the reason ("Permission denied", "No such file or directory") in `error`.
bool ReadFolder(const QByteArray& folder, ReadOptions options, QList<FolderEntry>& entries,
                QString& error);

// The identity of `folder` (see FolderEntry::identity); empty, with the reason in `error`, when
// it cannot be looked at or is not a folder.
QString FolderIdentity(const QByteArray& folder, QString& error);

// The same through QDirIterator: what non-Unix systems use, kept as the reference that the
// Unix reading is checked against.
bool ReadFolderWithQt(const QByteArray& folder, ReadOptions options, QList<FolderEntry>& entries,
                      QString& error);

}  // namespace orlenta
