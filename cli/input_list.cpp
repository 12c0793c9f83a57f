#include "input_list.h"

#include "folder_scan.h"

#include <QFile>
#include <QFileInfo>

namespace orlenta {

namespace {

std::string ToFileSystem(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// "mail/" is walked as "mail", so that its files read "mail/a.txt"; the root stays "/".
QString WithoutTrailingSeparators(QString folder) {
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) {
        folder.chop(1);
    }
    return folder;
}

void ExpandFolder(const QString& folder, FolderFiles folderFiles, InputList& list) {
    FolderScanHooks hooks;
    // The window asks about the names of other kinds; here the option has answered.
    hooks.ask = [folderFiles](const QString&) {
        return folderFiles == FolderFiles::All ? LoadAnswer::Yes : LoadAnswer::No;
    };
    hooks.append = [&list](const QStringList& paths) {
        for (const QString& path : paths) {
            list.inputs.push_back({Input::Kind::Path, ToFileSystem(path)});
        }
    };
    const FolderScanResult result = ScanFolder(WithoutTrailingSeparators(folder), hooks);
    for (const UnreadableFolder& unreadable : result.unreadable) {
        list.unreadable.push_back({ToFileSystem(unreadable.path), unreadable.reason.toStdString()});
    }
}

}  // namespace

InputList ExpandInputs(const std::vector<std::string>& arguments, FolderFiles folderFiles) {
    InputList list;
    list.inputs.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        if (argument == "-") {
            list.inputs.push_back({Input::Kind::StandardInput, {}});
            continue;
        }
        const QString path = QFile::decodeName(QByteArray::fromStdString(argument));
        if (QFileInfo(path).isDir()) {
            ExpandFolder(path, folderFiles, list);
        } else {
            list.inputs.push_back({Input::Kind::Path, argument});
        }
    }
    return list;
}

}  // namespace orlenta
