#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

namespace orlenta {

// The Open dialog answers a single choice with one full path, and a multiple choice with the
// folder followed by the bare names, each part separated by one NUL character:
//   "C:\Data\mail one.txt"               one file
//   "C:\Data" NUL "a.txt" NUL "b.txt"    two files in C:\Data
//   "C:\" NUL "a.txt"                    the drive root comes with its separator already
// These two functions go from that answer to the paths to append, and back.

// The paths to append for a dialog answer, in the answer's order. Empty answer (cancelled):
// nothing. One part: that part unchanged. Several parts: folder + separator + name for each
// name, then every doubled separator in it replaced by a single one (all occurrences, left to
// right), so "C:\" NUL "a.txt" gives "C:\a.txt" and "/" NUL "a.txt" gives "/a.txt". A folder
// that itself begins with a doubled separator (a network share, "\\server\share") keeps that
// leading pair: it is part of the share's name. Any length and any number of names.
QStringList SplitDialogSelection(const QString& returned, QChar separator);

// The answer the dialog would give for `chosenPaths` (full paths, as Qt's file dialog returns
// them): no paths gives the empty answer, one path that path, several their folder then their
// names. A root folder keeps its separator ("C:\", "/"), as the dialog gives it.
// Paths in different folders (Qt's dialog never returns such a choice) are written as names
// relative to their deepest common folder ("/home" NUL "ann/a.txt" NUL "bob/b.txt"), which
// SplitDialogSelection turns back into the same paths. Paths with no folder in common at all
// (different drives, relative paths) cannot be written in this form: the answer is then empty.
QString JoinDialogSelection(const QStringList& chosenPaths, QChar separator);

}  // namespace orlenta
