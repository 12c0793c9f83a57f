#pragma once

#include "ui/commands/long_work.h"
#include "ui/platform/event_loop_yielder.h"
#include "ui/pointer/mouse_pointer.h"

#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QPushButton;

namespace orlenta {

class ExtractionController;
class FolderScanCommand;
class HoverAfterModal;
class HoverFeedback;
class Platform;
class PressButton;
class ReportListView;
class ResultsModel;
class SaveCommands;
class SourceListDropTarget;
class SourceListModel;

// The main window: builds the controls of the layout table (form1_layout.h), runs the load
// steps before it is first shown (startup.h), makes the commands with what each of them uses
// and wires each control's events to its command. It holds no extraction or file logic.
//
// Every dialog and message box of the commands goes through HoverAfterModal, so the pointer's
// picture is right as soon as one closes. The window must outlive every command started from
// it; closing it only hides it and stops the long operations at their next yield, so the
// program can end normally.
class Form1 final : public QWidget {
    Q_OBJECT

public:
    explicit Form1(Platform& platform, QWidget* parent = nullptr);
    ~Form1() override;

    // The controls by their role; each keeps its designer name as its object name.
    ReportListView* sourceList() const { return sourceList_; }               // ListView1
    PressButton* addFilesButton() const { return addFilesButton_; }          // Check1
    PressButton* addFolderButton() const { return addFolderButton_; }        // Check5
    PressButton* clearSourcesButton() const { return clearSourcesButton_; }  // Check3
    PressButton* extractButton() const { return extractButton_; }            // Check2
    ReportListView* resultsList() const { return resultsList_; }             // ListView2
    PressButton* saveListButton() const { return saveListButton_; }          // Check6
    PressButton* saveCommaButton() const { return saveCommaButton_; }        // Check4
    PressButton* clearResultsButton() const { return clearResultsButton_; }  // Check7
    QLabel* statusLine() const { return statusLine_; }                       // Label1
    QPushButton* focusHolder() const { return focusHolder_; }                // Command1

    // What the two lists show.
    SourceListModel& sourceModel() const { return *sourceModel_; }
    ResultsModel& resultsModel() const { return *resultsModel_; }

    // The pointer settings of the window (hourglass, hand) and of the source list (drag image).
    PointerSetting& windowPointer() { return windowPointer_; }
    const PointerSetting& windowPointer() const { return windowPointer_; }
    PointerSetting& sourceListPointer() { return *sourceListPointer_; }
    const PointerSetting& sourceListPointer() const { return *sourceListPointer_; }

    // Every long operation yields through this one; after the window has closed it answers
    // false, and the operation ends.
    EventLoopYielder& yielder() { return yielder_; }

    // Which long operations are working, and the last run and scan.
    const LongWorkGuard& longWork() const { return longWork_; }
    const ExtractionController& extraction() const { return *extraction_; }
    const FolderScanCommand& folderScan() const { return *folderScan_; }

    // Files dragged from the file manager onto the source list; the first click on an entry
    // switches them off.
    SourceListDropTarget& sourceDrops() const { return *sourceDrops_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void setTabOrder();
    void makeCommands(Platform& platform);
    void wire();

    SourceListModel* const sourceModel_;
    ResultsModel* const resultsModel_;
    ReportListView* sourceList_ = nullptr;
    PressButton* addFilesButton_ = nullptr;
    PressButton* addFolderButton_ = nullptr;
    PressButton* clearSourcesButton_ = nullptr;
    PressButton* extractButton_ = nullptr;
    ReportListView* resultsList_ = nullptr;
    PressButton* saveListButton_ = nullptr;
    PressButton* saveCommaButton_ = nullptr;
    PressButton* clearResultsButton_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QPushButton* focusHolder_ = nullptr;

    PointerSetting windowPointer_;
    std::optional<PointerSetting> sourceListPointer_;  // made with the list
    EventLoopYielder yielder_;
    LongWorkGuard longWork_;
    HoverFeedback* hover_ = nullptr;
    std::unique_ptr<HoverAfterModal> modal_;
    std::unique_ptr<ExtractionController> extraction_;
    std::unique_ptr<FolderScanCommand> folderScan_;
    std::unique_ptr<SaveCommands> saves_;
    SourceListDropTarget* sourceDrops_ = nullptr;
};

}  // namespace orlenta
