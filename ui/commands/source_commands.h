#pragma once

#include <QObject>

namespace orlenta {

class FolderScanCommand;
class Form1;
class SourceListDropTarget;

// Every way of filling and pruning the source list from the window, wired to its control:
//   Check1 "Add File(s)"                  the Open dialog (add_files_command.h)
//   Check5 "Add All File(s) In Folder"    the folder scan (folder_scan_command.h)
//   double-click on ListView1             removal of the selected entry (source_list_removal.h)
//   files dropped on ListView1            appended as they come (source_list_drop.h)
// ("Clear List", Check3, is the window's own clearSources.)
class SourceCommands final : public QObject {
    Q_OBJECT

public:
    // Wires itself to `window`'s controls; owned by the window.
    explicit SourceCommands(Form1& window);
    ~SourceCommands() override;

    // Whether files dragged from the file manager are taken by the source list: on from the
    // start; the first click on an entry switches it off for the rest of the window's life.
    bool acceptsFileDrops() const;
    void setAcceptsFileDrops(bool accepts);

    // A folder scan is going (it yields while it walks and asks).
    bool isScanning() const;
    const FolderScanCommand& folderScan() const { return *folderScan_; }

    // The actions of Check1 and Check5.
    void addFiles();
    void addFolder();

private:
    Form1& window_;
    FolderScanCommand* folderScan_;
    SourceListDropTarget* dropTarget_;
};

}  // namespace orlenta
