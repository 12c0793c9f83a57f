#pragma once

#include "event_loop_yielder.h"
#include "mouse_pointer.h"

#include <QWidget>

#include <array>
#include <optional>

class QLabel;
class QPushButton;
class QTreeView;

namespace orlenta {

class ExtractionController;
class Platform;
class PressButton;
class ResultsModel;
class SourceCommands;
class SourceListModel;

// The main window: lays out the controls of the layout table (form1_layout.h), runs the load
// steps before it is first shown (startup.h) and wires each control's events to the piece
// that handles them. It holds no extraction or file logic of its own.
//
// The window must outlive every command started from it; closing it only hides it and stops
// the long operations at their next yield, so the program can end normally.
class Form1 final : public QWidget {
    Q_OBJECT

public:
    explicit Form1(Platform& platform, QWidget* parent = nullptr);
    ~Form1() override;

    Platform& platform() const { return platform_; }

    // ListView1, the source list, and ListView2, the results list, with their models.
    QTreeView* sourceView() const { return sourceView_; }
    QTreeView* resultsView() const { return resultsView_; }
    SourceListModel& sourceList() const { return *sourceList_; }
    ResultsModel& results() const { return *results_; }

    // Check1 to Check7 by their number; nullptr for any other number.
    PressButton* check(int number) const;
    QLabel* statusLine() const { return statusLine_; }         // Label1
    QPushButton* focusHolder() const { return focusHolder_; }  // Command1

    // The pointer settings of the window (hourglass, hand) and of the source list (drag image).
    PointerSetting& windowPointer() { return windowPointer_; }
    const PointerSetting& windowPointer() const { return windowPointer_; }
    PointerSetting& sourceListPointer() { return *sourceListPointer_; }
    const PointerSetting& sourceListPointer() const { return *sourceListPointer_; }

    // Every long operation yields through this one; after the window has closed it answers
    // false, and the operation ends.
    EventLoopYielder& yielder() { return yielder_; }
    bool isClosing() const { return yielder_.stopRequested(); }

    // While an extraction run is going it reads the source list by position: entries may be
    // added and reordered, but not removed. extractionRunningChanged() says when that changes.
    bool isExtracting() const;
    const ExtractionController& extraction() const { return *extraction_; }

    // Removal and clearing of source entries; both do nothing (and answer false) during a run.
    bool removeSource(int row);
    bool clearSources();

    // Check1, Check5, the double-click removal and the file drops of the source list; its
    // setAcceptsFileDrops(false) stops the list taking dropped files.
    SourceCommands& sourceCommands() const { return *sourceCommands_; }

signals:
    void extractionRunningChanged(bool running);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void setTabOrder();
    void wire();

    Platform& platform_;
    SourceListModel* sourceList_;
    ResultsModel* results_;
    QTreeView* sourceView_ = nullptr;
    QTreeView* resultsView_ = nullptr;
    std::array<PressButton*, 7> checks_{};
    QLabel* statusLine_ = nullptr;
    QPushButton* focusHolder_ = nullptr;
    PointerSetting windowPointer_;
    std::optional<PointerSetting> sourceListPointer_;  // made with the list
    EventLoopYielder yielder_;
    ExtractionController* extraction_ = nullptr;
    SourceCommands* sourceCommands_ = nullptr;
};

}  // namespace orlenta
