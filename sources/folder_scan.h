#pragma once

#include "sources/folder_walk.h"
#include "sources/scan_rules.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace orlenta {

// "Add All File(s) In Folder" after the folder has been chosen: every file of the folder and of
// its subfolders at any depth goes to the source list, folder by folder in level order.
//   - names beginning with "~" are passed over silently;
//   - names with ".htm", ".html" or ".txt" in them are appended without a question;
//   - for any other name the caller is asked (LoadQuestionText): Yes appends it, No skips it,
//     Cancel ends the scan at once, keeping what was appended before.
// A file's path is the folder list entry with the file's name, as bytes: choosing "/data" gives
// "/data/a.txt" and "/data/Docs/b.txt"; choosing the root "/" gives "//a.txt". The rules and
// the question look at the name as it is shown (QFile::decodeName); the path appended is the
// name's own bytes, so that a name that is not UTF-8 still opens.

enum class LoadAnswer { Yes, No, Cancel };

struct FolderScanHooks {
    // Asked with the bare file name as shown. Without it every such file is skipped, as with No.
    std::function<LoadAnswer(const QString& name)> ask;
    // Receives the paths to append, in order, a few at a time: everything accepted so far is
    // handed on before each question and at the end of each folder.
    std::function<void(const QList<QByteArray>& paths)> append;
    // Called at the points ScanYieldPoint lists; false stops the scan at once.
    ScanYield yield;
    // Lists a folder's files as ListFolderFiles does (which is used without it): a caller may
    // answer from a listing made ahead, on another thread.
    std::function<QList<QByteArray>(const QByteArray& folder, QString* error)> listFiles;
};

enum class ScanEnd {
    Completed,  // every folder was looked at
    Cancelled,  // the user answered Cancel
    Stopped,    // the yield hook asked to stop
};

struct FolderScanResult {
    ScanEnd end = ScanEnd::Completed;
    qsizetype appended = 0;
    // Folders that could not be listed (access refused, gone meanwhile), passed over; the
    // caller tells the user about them at the end.
    QList<UnreadableFolder> unreadable;
};

// Runs the scan of `chosenFolder`, the folder browser's answer (an empty path appends
// nothing). Each call walks on its own; two scans share nothing.
FolderScanResult ScanFolder(const QByteArray& chosenFolder, const FolderScanHooks& hooks);

}  // namespace orlenta
