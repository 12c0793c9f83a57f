#include "ui/pointer/source_list_reorder.h"

#include "sources/source_list_model.h"
#include "ui/platform/platform.h"
#include "ui/pointer/cursor_file.h"
#include "ui/pointer/hover_feedback.h"
#include "ui/pointer/mouse_pointer.h"

#include <QAbstractItemView>
#include <QDir>
#include <QItemSelectionModel>
#include <QMouseEvent>

namespace orlenta {

SourceListReorder::SourceListReorder(Parts parts, QObject* parent)
    : QObject(parent), parts_(std::move(parts)), viewport_(parts_.view.viewport()) {
    // Moves without a button held give the hover feedback.
    viewport_->setMouseTracking(true);
    viewport_->installEventFilter(this);
    // Emitted by the list's own press handling, once the press has selected the entry.
    connect(&parts_.view, &QAbstractItemView::pressed, this, &SourceListReorder::onPressed);
}

int SourceListReorder::carriedRow() const {
    return carried_.isValid() ? carried_.row() : -1;
}

bool SourceListReorder::eventFilter(QObject* watched, QEvent* event) {
    if (watched != viewport_) {
        return false;
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            // The list goes on to select the entry under the pointer and reports it through
            // pressed(), where the click is taken.
            pressedButton_ = static_cast<QMouseEvent*>(event)->button();
            dragFlag_ = true;
            tookHeldMoves_ = false;
            return false;
        case QEvent::MouseButtonDblClick:
            // The second press of a double-click; the removal of the selected entry takes the
            // double-click itself.
            dragFlag_ = true;
            return false;
        case QEvent::MouseButtonRelease:
            release();
            // The list never saw the moves between press and release, and would take them for
            // a click: pressed on the entry already selected, it selects the one under the
            // release, which after a carry is seldom the carried one.
            return std::exchange(tookHeldMoves_, false);
        case QEvent::MouseMove: {
            const auto* move = static_cast<QMouseEvent*>(event);
            ShowHoverPointer(parts_.windowPointer, MousePointer::Default);
            if (move->buttons() == Qt::NoButton) {
                // No button is down, yet no release came: it went elsewhere (to a message box
                // that opened while the button was held, say). Carrying on would move entries
                // under a pointer that merely passes over the list.
                if (dragFlag_) {
                    release();
                }
                return false;
            }
            if (dragFlag_) {
                moveOver(move->position().toPoint());
            }
            // With a button held the move is ours: the list would start a drag selection.
            tookHeldMoves_ = true;
            return true;
        }
        default:
            return false;
    }
}

void SourceListReorder::onPressed(const QModelIndex&) {
    if (std::exchange(pressedButton_, Qt::NoButton) == Qt::LeftButton) {
        startCarrying();
    }
}

void SourceListReorder::startCarrying() {
    // The image is read at every click; an unreadable or missing file shows the arrow.
    parts_.listPointer.setCustomImage(
        LoadCursorFile(DragImagePath(parts_.programFolder.programFolder())));
    parts_.listPointer.set(MousePointer::Custom);
    // The list starts no drag of its own and takes no drop, from now on.
    parts_.view.setDragDropMode(QAbstractItemView::NoDragDrop);
    if (parts_.stopTakingDrops) {
        parts_.stopTakingDrops();
    }
    const QModelIndexList selected = parts_.view.selectionModel()->selectedRows();
    carried_ = selected.isEmpty() ? QPersistentModelIndex() : QPersistentModelIndex(selected[0]);
}

void SourceListReorder::release() {
    dragFlag_ = false;
    pressedButton_ = Qt::NoButton;
    parts_.listPointer.set(MousePointer::Arrow);
}

void SourceListReorder::moveOver(QPoint position) {
    const QModelIndex target = parts_.view.indexAt(position);
    if (!target.isValid() || !carried_.isValid()) {
        return;
    }
    SourceListModel& sources = parts_.sources;
    const int from = carried_.row();
    const int to = target.row();
    const QByteArray carried = sources.pathAt(from);
    const QByteArray displaced = sources.pathAt(to);
    if (carried == displaced) {
        // Also the move over the carried entry itself.
        return;
    }
    sources.setPathAt(from, displaced);
    sources.setPathAt(to, carried);
    const QModelIndex landed = sources.index(to, 0);
    selectWithoutScrolling(landed);
    carried_ = landed;
    scrollNearScreenEdge(to + 1);
}

void SourceListReorder::selectWithoutScrolling(const QModelIndex& index) {
    // Making it current keeps the keyboard where the carried path is; the list would also
    // scroll to it, and only the screen row may decide that.
    QAbstractItemView& view = parts_.view;
    const bool autoScroll = view.hasAutoScroll();
    view.setAutoScroll(false);
    view.selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view.setAutoScroll(autoScroll);
}

void SourceListReorder::scrollNearScreenEdge(int position) {
    const int row = parts_.pointer.pointerScreenPosition().y();
    const int count = parts_.sources.count();
    if (row < ScrollUpAboveScreenRow) {
        if (position >= 2) {
            parts_.view.scrollTo(parts_.sources.index(position - 2, 0));
        }
    } else if (row >= ScrollDownFromScreenRow) {
        if (position + 1 <= count) {
            parts_.view.scrollTo(parts_.sources.index(position, 0));
        }
    }
}

QString DragImagePath(const QString& programFolder) {
    return programFolder + QDir::separator() + QStringLiteral("drag.ico");
}

}  // namespace orlenta
