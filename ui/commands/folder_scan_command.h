#pragma once

#include "sources/folder_scan.h"

#include <QByteArray>
#include <QString>

class QWidget;

namespace orlenta {

class EventLoopYielder;
class LongWorkGuard;
class FolderPicker;
class MessageBoxes;
class SourceListModel;

// "Add All File(s) In Folder" (Check5) in the window: the folder browser, then the scan of
// folder_scan.h with the window's question box, the source list and the window's event loop.
//   - browser cancelled: nothing happens, the pointer is never touched;
//   - otherwise the window shows the hourglass until the scan ends, however it ends;
//   - each name that is not of the expected kinds is asked about (Yes appends it, No skips
//     it, Cancel or Esc ends the scan keeping what was appended);
//   - the scan yields to the event loop while it walks, and stops at once when the window
//     closes (a question answered after the close counts as Cancel);
//   - folders that could not be read are named in one message at the end.
// The scan goes through the window's LongWorkGuard (long_work.h): a press while a scan is going
// does nothing, and the hourglass stays up while any other long operation still works.
class FolderScanCommand final {
public:
    FolderScanCommand(SourceListModel& sources, LongWorkGuard& guard, FolderPicker& picker,
                      MessageBoxes& messages, EventLoopYielder& yielder, QWidget* owner);

    // How the last scan ended, what it appended and which folders it could not read.
    const FolderScanResult& lastScan() const { return lastScan_; }

    // The action of Check5. Returns when the scan is over (it yields meanwhile).
    void run();

private:
    void scan(const QByteArray& folder);
    LoadAnswer ask(const QString& name);

    SourceListModel& sources_;
    LongWorkGuard& guard_;
    FolderPicker& picker_;
    MessageBoxes& messages_;
    EventLoopYielder& yielder_;
    QWidget* const owner_;
    FolderScanResult lastScan_;
};

// "These folders could not be read:" and one "path: reason" line per folder, cut like the
// extraction run's list of unread files.
QString UnreadableFoldersMessage(const QList<UnreadableFolder>& folders);

}  // namespace orlenta
