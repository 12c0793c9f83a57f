#include "ui/window/form1.h"

#include "results/results_model.h"
#include "sources/source_list_model.h"
#include "ui/commands/add_files_command.h"
#include "ui/commands/extraction_controller.h"
#include "ui/commands/folder_scan_command.h"
#include "ui/commands/results_commands.h"
#include "ui/commands/save_commands.h"
#include "ui/commands/source_list_drop.h"
#include "ui/commands/source_list_removal.h"
#include "ui/platform/platform.h"
#include "ui/pointer/hover_after_modal.h"
#include "ui/pointer/hover_feedback.h"
#include "ui/pointer/source_list_reorder.h"
#include "ui/window/form1_controls.h"
#include "ui/window/form1_layout.h"
#include "ui/window/press_button.h"
#include "ui/window/report_list_view.h"
#include "ui/window/startup.h"
#include "ui/window/transparent_icon.h"
#include "ui/window/twips.h"

#include <QCloseEvent>
#include <QLabel>

#include <algorithm>
#include <vector>

namespace orlenta {

namespace {

const ControlLayout& Row(const char* name) {
    return *FindControlLayout(name);
}

}  // namespace

Form1::Form1(Platform& platform, QWidget* parent)
    : QWidget(parent),
      sourceModel_(new SourceListModel(this)),
      resultsModel_(new ResultsModel(this)),
      windowPointer_(this),
      yielder_(platform),
      longWork_(windowPointer_) {
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(TwipsToPixels(ClientWidthTwips), TwipsToPixels(ClientHeightTwips));
    setWindowIcon(TransparentIcon());
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    setAutoFillBackground(true);

    buildControls();
    setTabOrder();
    makeCommands(platform);
    wire();

    RunLoadSteps({*this, windowPointer_, *sourceList_, *resultsList_}, platform);
    focusHolder_->setFocus();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    sourceList_ = CreateListView(Row("ListView1"), sourceModel_, this);
    addFilesButton_ = CreateButton(Row("Check1"), this);
    addFolderButton_ = CreateButton(Row("Check5"), this);
    clearSourcesButton_ = CreateButton(Row("Check3"), this);
    extractButton_ = CreateButton(Row("Check2"), this);
    resultsList_ = CreateListView(Row("ListView2"), resultsModel_, this);
    saveListButton_ = CreateButton(Row("Check6"), this);
    saveCommaButton_ = CreateButton(Row("Check4"), this);
    clearResultsButton_ = CreateButton(Row("Check7"), this);
    statusLine_ = CreateStatusLine(Row("Label1"), this);
    focusHolder_ = CreateFocusHolder(Row("Command1"), this);
    sourceListPointer_.emplace(sourceList_);
}

void Form1::setTabOrder() {
    std::vector<const ControlLayout*> order;
    for (const ControlLayout& layout : Form1Controls()) {
        if (layout.kind != ControlKind::StatusLine) {
            order.push_back(&layout);
        }
    }
    std::sort(order.begin(), order.end(), [](const ControlLayout* a, const ControlLayout* b) {
        return a->tabIndex < b->tabIndex;
    });
    QWidget* previous = nullptr;
    for (const ControlLayout* layout : order) {
        auto* control =
            findChild<QWidget*>(QLatin1String(layout->name), Qt::FindDirectChildrenOnly);
        if (previous) {
            QWidget::setTabOrder(previous, control);
        }
        previous = control;
    }
}

void Form1::makeCommands(Platform& platform) {
    // The hand over the buttons, the default pointer over the background and both lists.
    hover_ =
        new HoverFeedback(*this, windowPointer_,
                          {addFilesButton_, addFolderButton_, clearSourcesButton_, extractButton_,
                           saveListButton_, saveCommaButton_, clearResultsButton_},
                          {sourceList_->viewport(), resultsList_->viewport()}, this);
    hover_->setObjectName(QStringLiteral("HoverFeedback"));
    modal_ = std::make_unique<HoverAfterModal>(platform, *hover_);

    extraction_ = std::make_unique<ExtractionController>(
        *sourceModel_, *resultsModel_, *statusLine_, longWork_, *modal_, yielder_, this);
    folderScan_ = std::make_unique<FolderScanCommand>(*sourceModel_, longWork_, *modal_, *modal_,
                                                      yielder_, this);
    saves_ =
        std::make_unique<SaveCommands>(*resultsModel_, longWork_, *modal_, *modal_, yielder_, this);
    sourceDrops_ = new SourceListDropTarget(*sourceList_, *sourceModel_, this);
    // The run reads the entries by position: while it works they may be added and carried,
    // but not removed.
    new RemoveSelectedOnDoubleClick(
        *sourceList_,
        [this](int row) {
            if (!longWork_.isRunning(LongWork::Run)) {
                sourceModel_->removeAt(row);
            }
        },
        this);

    auto* reorder = new SourceListReorder(
        {*sourceList_, *sourceModel_, *sourceListPointer_, windowPointer_, platform, platform,
         [this] { sourceDrops_->setAcceptsFileDrops(false); }},
        this);
    reorder->setObjectName(QStringLiteral("SourceListReorder"));
}

void Form1::wire() {
    // The source list; the double-click removal and the drops are wired where they are made.
    connect(addFilesButton_, &PressButton::activated, this,
            [this] { AddFilesFromOpenDialog(*modal_, this, *sourceModel_); });
    connect(addFolderButton_, &PressButton::activated, this, [this] { folderScan_->run(); });
    connect(clearSourcesButton_, &PressButton::activated, this, [this] {
        if (!longWork_.isRunning(LongWork::Run)) {
            sourceModel_->clear();
        }
    });

    connect(extractButton_, &PressButton::activated, this, [this] { extraction_->run(); });

    // The results list and the two saves.
    connect(resultsList_, &QAbstractItemView::doubleClicked, this,
            [this] { RemoveSelectedResult(*resultsList_, *resultsModel_); });
    connect(clearResultsButton_, &PressButton::activated, resultsModel_, &ResultsModel::clear);
    connect(saveListButton_, &PressButton::activated, this, [this] { saves_->saveAsList(); });
    connect(saveCommaButton_, &PressButton::activated, this,
            [this] { saves_->saveCommaDelimited(); });
}

void Form1::closeEvent(QCloseEvent* event) {
    // Closing ends the program at once: whatever runs stops at its next yield, nothing is
    // saved or asked.
    yielder_.requestStop();
    event->accept();
}

}  // namespace orlenta
