#include "input_list.h"

#include "folder_scan.h"

#include <sys/stat.h>

namespace orlenta {

namespace {

// "mail/" is walked as "mail", so that its files read "mail/a.txt"; the root stays "/".
QByteArray WithoutTrailingSeparators(QByteArray folder) {
    while (folder.size() > 1 && folder.endsWith(PathSeparator)) {
        folder.chop(1);
    }
    return folder;
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

void ExpandFolder(const std::string& folder, FolderFiles folderFiles, InputList& list) {
    FolderScanHooks hooks;
    // The window asks about the names of other kinds; here the option has answered.
    hooks.ask = [folderFiles](const QString&) {
        return folderFiles == FolderFiles::All ? LoadAnswer::Yes : LoadAnswer::No;
    };
    hooks.append = [&list](const QList<QByteArray>& paths) {
        for (const QByteArray& path : paths) {
            list.inputs.push_back({Input::Kind::Path, path.toStdString()});
        }
    };
    const FolderScanResult result =
        ScanFolder(WithoutTrailingSeparators(QByteArray::fromStdString(folder)), hooks);
    for (const UnreadableFolder& unreadable : result.unreadable) {
        list.unreadable.push_back(
            {unreadable.path.toStdString(), unreadable.reason.toLocal8Bit().toStdString()});
    }
}

}  // namespace

InputList ExpandInputs(const std::vector<std::string>& arguments, FolderFiles folderFiles) {
    InputList list;
    list.inputs.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        if (argument == "-") {
            list.inputs.push_back({Input::Kind::StandardInput, {}});
        } else if (IsFolder(argument)) {
            ExpandFolder(argument, folderFiles, list);
        } else {
            list.inputs.push_back({Input::Kind::Path, argument});
        }
    }
    return list;
}

}  // namespace orlenta
