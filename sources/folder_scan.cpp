#include "sources/folder_scan.h"

#include <QFile>

namespace orlenta {

namespace {

// Collects the accepted paths of one folder and hands them on in one go, so that the source
// list grows a batch at a time; handed on before every question, so that the user sees the
// list as it stands when asked.
class PendingPaths final {
public:
    explicit PendingPaths(const FolderScanHooks& hooks, FolderScanResult& result)
        : hooks_(hooks), result_(result) {}
    Q_DISABLE_COPY_MOVE(PendingPaths)

    void add(QByteArray path) { paths_.append(std::move(path)); }

    void flush() {
        if (paths_.isEmpty()) {
            return;
        }
        result_.appended += paths_.size();
        if (hooks_.append) {
            hooks_.append(paths_);
        }
        paths_.clear();
    }

private:
    const FolderScanHooks& hooks_;
    FolderScanResult& result_;
    QList<QByteArray> paths_;
};

LoadAnswer Ask(const FolderScanHooks& hooks, const QString& name) {
    return hooks.ask ? hooks.ask(name) : LoadAnswer::No;
}

}  // namespace

FolderScanResult ScanFolder(const QByteArray& chosenFolder, const FolderScanHooks& hooks) {
    FolderScanResult result;
    if (chosenFolder.isEmpty()) {
        return result;
    }
    FolderWalk walk(hooks.yield);
    FolderList folders{chosenFolder + PathSeparator};
    if (!CollectSubfolders(folders, true, walk)) {
        result.end = ScanEnd::Stopped;
        result.unreadable = walk.unreadable();
        return result;
    }

    PendingPaths pending(hooks, result);
    for (const QByteArray& entry : std::as_const(folders)) {
        if (!walk.yield(ScanYieldPoint::FolderFiles)) {
            result.end = ScanEnd::Stopped;
            break;
        }
        const QByteArray folder = entry.chopped(1);
        QString error;
        const QList<QByteArray> names =
            hooks.listFiles ? hooks.listFiles(folder, &error) : ListFolderFiles(folder, &error);
        if (!error.isEmpty()) {
            walk.noteUnreadable(folder, error);
        }
        for (const QByteArray& name : names) {
            const QString shown = QFile::decodeName(name);
            if (IsPassedOver(shown)) {
                continue;
            }
            if (NeedsLoadQuestion(shown)) {
                pending.flush();
                const LoadAnswer answer = Ask(hooks, shown);
                if (answer == LoadAnswer::Cancel) {
                    result.end = ScanEnd::Cancelled;
                    break;
                }
                if (answer == LoadAnswer::No) {
                    continue;
                }
            }
            pending.add(folder + PathSeparator + name);
        }
        if (result.end != ScanEnd::Completed) {
            break;
        }
        pending.flush();
    }
    pending.flush();
    result.unreadable = walk.unreadable();
    return result;
}

}  // namespace orlenta
