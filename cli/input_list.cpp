#include "cli/input_list.h"

#include "engine/archive_source.h"
#include "sources/folder_scan.h"
#include "sources/scan_rules.h"

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

// Of the files the question would have been asked about, those read for their content: with
// --unpack the compressed files and archives, and what `forContent` takes (--mail: mails);
// hidden ones are not looked at.
bool IsExpectedOrTaken(const QByteArray& path, FolderFiles folderFiles,
                       const ReadForContent& forContent) {
    const QByteArray name = path.mid(path.lastIndexOf(PathSeparator) + 1);
    if (!NeedsLoadQuestion(QFile::decodeName(name))) {
        return true;
    }
    if (name.startsWith('.')) {
        return false;
    }
    const std::string bytes = path.toStdString();
    return (folderFiles == FolderFiles::ExpectedKindsAndPacked && LooksPackedFile(bytes)) ||
           (forContent && forContent(bytes));
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
                  const ReadForContent& forContent, InputList& list) {
    const QByteArray folder = WithoutTrailingSeparators(QByteArray::fromStdString(path));
    std::optional<FirstListing> firstListing;
    FolderScanHooks hooks;
    if (listAhead) {
        firstListing.emplace(folder);
        hooks.listFiles = [&firstListing](const QByteArray& listed, QString* error) {
            return firstListing->listFiles(listed, error);
        };
    }
    // The window asks about the names of other kinds; here the options have answered: every
    // one with --all; those found packed (--unpack) or taken by `forContent` (--mail) by what
    // they hold; otherwise none.
    const bool byContent = folderFiles == FolderFiles::ExpectedKindsAndPacked ||
                           (folderFiles == FolderFiles::ExpectedKinds && forContent);
    hooks.ask = [folderFiles, byContent](const QString&) {
        return folderFiles == FolderFiles::All || byContent ? LoadAnswer::Yes : LoadAnswer::No;
    };
    hooks.append = [&list, folderFiles, byContent, &forContent](const QList<QByteArray>& paths) {
        for (const QByteArray& path : paths) {
            if (byContent && !IsExpectedOrTaken(path, folderFiles, forContent)) {
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
                       unsigned threads, const ReadForContent& forContent) {
    InputList list;
    list.inputs.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        if (argument == "-") {
            list.inputs.push_back({Input::Kind::StandardInput, {}});
        } else if (IsFolder(argument)) {
            ExpandFolder(argument, folderFiles, threads > 1, forContent, list);
        } else {
            list.inputs.push_back({Input::Kind::Path, argument});
        }
    }
    return list;
}

}  // namespace orlenta
