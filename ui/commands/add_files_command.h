#pragma once

#include <QString>

class QWidget;

namespace orlenta {

class FileDialogs;
class SourceListModel;

// "Add File(s)" (Check1): the Open dialog, several files at once, and every chosen path
// appended to the source list in the order the dialog gives them. A cancelled dialog adds
// nothing; duplicates, missing files and folders are appended like any other path.

inline const QString AddFilesTitle =
    QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
// Each filter is shown by its description alone ("All Files (*.*)", the platform dialog hides the
// pattern list after it), while the pattern list matches every name: Qt's "*.*" would pass over
// the names without a dot.
inline const QString AllFilesFilter = QStringLiteral("All Files (*.*) (*)");

// Shows the dialog (the title and filter above) and appends what was chosen. Returns the number of
// paths appended.
int AddFilesFromOpenDialog(FileDialogs& dialogs, QWidget* owner, SourceListModel& sources);

}  // namespace orlenta
