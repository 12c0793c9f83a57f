#include "form1.h"

#include "extraction_controller.h"
#include "form1_controls.h"
#include "form1_layout.h"
#include "platform.h"
#include "pointer_feedback.h"
#include "press_button.h"
#include "results_commands.h"
#include "results_model.h"
#include "save_commands.h"
#include "source_commands.h"
#include "source_list_model.h"
#include "startup.h"
#include "transparent_icon.h"
#include "twips.h"

#include <QCloseEvent>
#include <QLabel>
#include <QTreeView>

#include <algorithm>
#include <vector>

namespace orlenta {

Form1::Form1(Platform& platform, QWidget* parent)
    : QWidget(parent),
      platform_(platform),
      sourceList_(new SourceListModel(this)),
      results_(new ResultsModel(this)),
      windowPointer_(this),
      yielder_(platform) {
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(TwipsToPixels(ClientWidthTwips), TwipsToPixels(ClientHeightTwips));
    setWindowIcon(TransparentIcon());
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    setAutoFillBackground(true);

    buildControls();
    setTabOrder();
    extraction_ = new ExtractionController(
        *sourceList_, *results_, {this, statusLine_, &windowPointer_}, platform_, yielder_, this);
    wire();
    sourceCommands_ = new SourceCommands(*this);
    InstallPointerFeedback(*this);

    RunLoadSteps({*this, windowPointer_, *sourceView_, *resultsView_}, platform_);
    focusHolder_->setFocus();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    for (const ControlLayout& layout : Form1Controls()) {
        const QLatin1String name(layout.name);
        switch (layout.kind) {
            case ControlKind::List:
                if (name == QLatin1String("ListView1")) {
                    sourceView_ = CreateListView(layout, sourceList_, this);
                } else {
                    resultsView_ = CreateListView(layout, results_, this);
                }
                break;
            case ControlKind::Button: {
                const int number = QChar(name.back()).digitValue();
                checks_.at(number - 1) = CreateButton(layout, this);
                break;
            }
            case ControlKind::StatusLine:
                statusLine_ = CreateStatusLine(layout, this);
                break;
            case ControlKind::FocusHolder:
                focusHolder_ = CreateFocusHolder(layout, this);
                break;
        }
    }
    sourceListPointer_.emplace(sourceView_);
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

void Form1::wire() {
    connect(check(2), &PressButton::activated, extraction_, &ExtractionController::run);
    connect(check(3), &PressButton::activated, this, &Form1::clearSources);
    connect(extraction_, &ExtractionController::runningChanged, this,
            &Form1::extractionRunningChanged);

    // The results list and the two saves.
    connect(resultsView_, &QAbstractItemView::doubleClicked, this,
            [this] { RemoveSelectedResult(*resultsView_, *results_); });
    connect(check(7), &PressButton::activated, results_, &ResultsModel::clear);
    connect(check(6), &PressButton::activated, this, [this] { SaveResultsAsList(*this); });
    connect(check(4), &PressButton::activated, this, [this] { SaveAsCommaDelimited(*this); });
}

PressButton* Form1::check(int number) const {
    return number >= 1 && number <= static_cast<int>(checks_.size()) ? checks_[number - 1]
                                                                     : nullptr;
}

bool Form1::isExtracting() const {
    return extraction_->isRunning();
}

bool Form1::removeSource(int row) {
    if (isExtracting() || row < 0 || row >= sourceList_->count()) {
        return false;
    }
    sourceList_->removeAt(row);
    return true;
}

bool Form1::clearSources() {
    if (isExtracting()) {
        return false;
    }
    sourceList_->clear();
    return true;
}

void Form1::closeEvent(QCloseEvent* event) {
    // Closing ends the program at once: whatever runs stops at its next yield, nothing is
    // saved or asked.
    yielder_.requestStop();
    event->accept();
}

}  // namespace orlenta
