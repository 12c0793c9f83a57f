#pragma once

#include <QCursor>
#include <QString>

#include <optional>

namespace orlenta {

// Loads a pointer image from a Windows cursor (.cur) or icon (.ico) file, as the window's
// hand pointer and the source list's drag image are. A cursor keeps the hot spot written in
// its file; an icon gets its centre as the hot spot, as Windows gives it. Nothing when the file
// cannot be read as an image (missing, empty, damaged, another format): the caller shows the
// standard pointer instead.
std::optional<QCursor> LoadCursorFile(const QString& path);

}  // namespace orlenta
