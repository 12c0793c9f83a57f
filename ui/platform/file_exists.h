#pragma once

#include <QByteArray>
#include <QString>

namespace orlenta {

// True exactly when the file system can report the last-modification time of `path`: an
// existing file or folder. False for anything else: no such path, an empty or malformed name
// (one holding a NUL character), a path through a file, a dangling link, no access to the
// folder. Never throws and leaves no error state behind. Used by the start-up (the hand
// cursor) and by both saves (whether to ask before overwriting).
bool FileExists(const QByteArray& path) noexcept;  // the name's bytes, as the file system has it
bool FileExists(const QString& path) noexcept;

}  // namespace orlenta
