#include "add_files_command.h"

#include "platform.h"
#include "source_list_model.h"

namespace orlenta {

int AddFilesFromOpenDialog(FileDialogs& dialogs, QWidget* owner, SourceListModel& sources) {
    const QList<QByteArray> chosen =
        dialogs.showOpenDialog(owner, {AddFilesTitle, {AllFilesFilter}});
    sources.append(chosen);
    return static_cast<int>(chosen.size());
}

}  // namespace orlenta
