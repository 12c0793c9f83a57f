#include "add_files_command.h"

#include "dialog_selection.h"
#include "platform.h"
#include "source_list_model.h"

#include <QDir>

namespace orlenta {

int AddFilesFromOpenDialog(FileDialogs& dialogs, QWidget* owner, SourceListModel& sources) {
    // Every use of the dialog sets all it needs anew, starting with an empty file name.
    FileDialogSettings settings;
    settings.fileName = QString();
    settings.flags = DialogFlags::Standard;
    settings.title = AddFilesTitle;
    settings.filter = AllFilesFilter;

    const QString answer = dialogs.showOpenDialog(owner, settings);
    const QStringList paths = SplitDialogSelection(answer, QDir::separator());
    sources.append(paths);
    return static_cast<int>(paths.size());
}

}  // namespace orlenta
