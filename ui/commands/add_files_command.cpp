#include "ui/commands/add_files_command.h"

#include "sources/source_list_model.h"
#include "ui/platform/platform.h"

namespace orlenta {

int AddFilesFromOpenDialog(FileDialogs& dialogs, QWidget* owner, SourceListModel& sources) {
    const QList<QByteArray> chosen =
        dialogs.showOpenDialog(owner, {AddFilesTitle, {AllFilesFilter}});
    sources.append(chosen);
    return static_cast<int>(chosen.size());
}

}  // namespace orlenta
