#include "cli/input_list.h"

#include "engine/archive_source.h"
#include "sources/folder_scan.h"

#include <QFile>

#include <sys/stat.h>

#include <future>
#include <optional>
#include <utility>

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

// With --unpack, the files the question would have been asked about are those that are
// compressed files or archives by their content; hidden ones are not looked at.
bool IsExpectedOrPacked(const QByteArray& path) {
    const QByteArray name = path.mid(path.lastIndexOf(PathSeparator) + 1);
    if (!NeedsLoadQuestion(QFile::decodeName(name))) {
        return true;
    }
    return !name.startsWith('.') && LooksPackedFile(path.toStdString());
}

// The files of the chosen folder, listed on a thread of their own while the walk looks for its
// subfolders: a folder of 200,000 files is read in half the time.
class FirstListing final {
public:
    explicit FirstListing(const QByteArray& folder)
        : folder_(folder), listing_(std::async(std::launch::async, [folder] {
              QString error;
              QList<QByteArray> names = ListFolderFiles(folder, &error);
              return std::make_pair(std::move(names), std::move(error));
          })) {}

    QList<QByteArray> listFiles(const QByteArray& folder, QString* error) {
        if (folder != folder_ || !listing_.valid()) {
            return ListFolderFiles(folder, error);
        }
        auto [names, reason] = listing_.get();
        *error = reason;
        return names;
    }

private:
    const QByteArray folder_;
    std::future<std::pair<QList<QByteArray>, QString>> listing_;
};

void ExpandFolder(const std::string& path, FolderFiles folderFiles, bool listAhead,
                  InputList& list) {
    const QByteArray folder = WithoutTrailingSeparators(QByteArray::fromStdString(path));
    std::optional<FirstListing> firstListing;
    FolderScanHooks hooks;
    if (listAhead) {
        firstListing.emplace(folder);
        hooks.listFiles = [&firstListing](const QByteArray& listed, QString* error) {
            return firstListing->listFiles(listed, error);
        };
    }
    // The window asks about the names of other kinds; here the option has answered.
    hooks.ask = [folderFiles](const QString&) {
        return folderFiles == FolderFiles::ExpectedKinds ? LoadAnswer::No : LoadAnswer::Yes;
    };
    hooks.append = [&list, folderFiles](const QList<QByteArray>& paths) {
        for (const QByteArray& path : paths) {
            if (folderFiles == FolderFiles::ExpectedKindsAndPacked && !IsExpectedOrPacked(path)) {
                continue;
            }
            list.inputs.push_back({Input::Kind::FolderEntry, path.toStdString()});
        }
    };
    const FolderScanResult result = ScanFolder(folder, hooks);
    for (const UnreadableFolder& unreadable : result.unreadable) {
        list.unreadable.push_back(
            {unreadable.path.toStdString(), unreadable.reason.toLocal8Bit().toStdString()});
    }
}

}  // namespace

InputList ExpandInputs(const std::vector<std::string>& arguments, FolderFiles folderFiles,
                       unsigned threads) {
    InputList list;
    list.inputs.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        if (argument == "-") {
            list.inputs.push_back({Input::Kind::StandardInput, {}});
        } else if (IsFolder(argument)) {
            ExpandFolder(argument, folderFiles, threads > 1, list);
        } else {
            list.inputs.push_back({Input::Kind::Path, argument});
        }
    }
    return list;
}

}  // namespace orlenta
