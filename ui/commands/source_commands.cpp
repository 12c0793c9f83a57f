#include "source_commands.h"

#include "add_files_command.h"
#include "folder_scan_command.h"
#include "form1.h"
#include "press_button.h"
#include "source_list_drop.h"
#include "source_list_removal.h"

#include <QTreeView>

namespace orlenta {

SourceCommands::SourceCommands(Form1& window)
    : QObject(&window),
      window_(window),
      folderScan_(new FolderScanCommand(window.sourceList(), {&window, &window.windowPointer()},
                                        window.platform(), window.platform(), window.yielder(),
                                        this)),
      dropTarget_(new SourceListDropTarget(*window.sourceView(), window.sourceList(), this)) {
    // Form1::removeSource refuses during an extraction run, which reads the list by position.
    new RemoveSelectedOnDoubleClick(
        *window.sourceView(), [&window](int row) { window.removeSource(row); }, this);
    connect(window.check(1), &PressButton::activated, this, &SourceCommands::addFiles);
    connect(window.check(5), &PressButton::activated, this, &SourceCommands::addFolder);
}

SourceCommands::~SourceCommands() = default;

bool SourceCommands::acceptsFileDrops() const {
    return dropTarget_->acceptsFileDrops();
}

void SourceCommands::setAcceptsFileDrops(bool accepts) {
    dropTarget_->setAcceptsFileDrops(accepts);
}

bool SourceCommands::isScanning() const {
    return folderScan_->isScanning();
}

void SourceCommands::addFiles() {
    AddFilesFromOpenDialog(window_.platform(), &window_, window_.sourceList());
}

void SourceCommands::addFolder() {
    folderScan_->run();
}

}  // namespace orlenta
