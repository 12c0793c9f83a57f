#include "ui/window/report_list_view.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>

#include <algorithm>

namespace orlenta {

ReportListView::ReportListView(QWidget* parent) : QTableView(parent) {
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(0);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // A tree's header: headings on the left, nothing to click, no section lit with the selection.
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    setShowGrid(false);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setCornerButtonEnabled(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    fitRowHeightToFont();
    // Rows added to a list that has some already only need the scroll bar set again, and the
    // new rows drawn where they show (rowsInserted); the table would lay out and draw the whole
    // list again, most of the cost of a turn of the event loop while a run fills the list.
    if (!disconnect(verticalHeader(), &QHeaderView::sectionCountChanged, this,
                    &ReportListView::rowCountChanged)) {
        disconnect(verticalHeader(), SIGNAL(sectionCountChanged(int, int)), this,
                   SLOT(rowCountChanged(int, int)));
    }
    connect(verticalHeader(), &QHeaderView::sectionCountChanged, this,
            &ReportListView::onRowCountChanged);
}

void ReportListView::onRowCountChanged(int oldCount, int newCount) {
    if (oldCount > 0 && newCount > oldCount) {
        updateGeometries();
    } else {
        rowCountChanged(oldCount, newCount);
    }
}

void ReportListView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QTableView::rowsInserted(parent, start, end);
    // From the first new row down everything may have changed; above it nothing has.
    const int top = start < verticalHeader()->count() ? rowViewportPosition(start) : 0;
    if (top < viewport()->height()) {
        const int from = std::max(top, 0);
        viewport()->update(0, from, viewport()->width(), viewport()->height() - from);
    }
}

void ReportListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    executeDelayedItemsLayout();
    QTableView::scrollTo(index, hint);
}

void ReportListView::doItemsLayout() {
    QTableView::doItemsLayout();
    keepTopRowAtScrollValue();
}

void ReportListView::scrollContentsBy(int dx, int dy) {
    QTableView::scrollContentsBy(dx, dy);
    keepTopRowAtScrollValue();
}

void ReportListView::updateGeometries() {
    QTableView::updateGeometries();
    keepTopRowAtScrollValue();
}

// A table scrolled to its end lines the last row up with the bottom edge, cutting the top row.
void ReportListView::keepTopRowAtScrollValue() {
    if (verticalScrollMode() != ScrollPerItem || verticalHeader()->count() == 0) {
        return;
    }
    const int before = verticalHeader()->offset();
    verticalHeader()->setOffsetToSectionPosition(verticalScrollBar()->value());
    const int moved = before - verticalHeader()->offset();
    if (moved != 0) {
        viewport()->scroll(0, moved);
    }
}

QModelIndex ReportListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    const QModelIndex current = currentIndex();
    const int rows = model() != nullptr ? model()->rowCount(rootIndex()) : 0;
    if (!current.isValid() || rows == 0) {
        return QTableView::moveCursor(cursorAction, modifiers);
    }
    const auto rowAtOrElse = [this](int y, int otherwise) {
        const int row = rowAt(y);
        return row < 0 ? otherwise : row;
    };
    const int top = visualRect(current).top();
    int row = current.row();
    switch (cursorAction) {
        case MoveHome:
            row = 0;
            break;
        case MoveEnd:
            row = rows - 1;
            break;
        case MovePageUp:
            row = rowAtOrElse(top - viewport()->height(), 0);
            break;
        case MovePageDown:
            row = rowAtOrElse(top + viewport()->height(), rows - 1);
            break;
        case MoveLeft:
            horizontalScrollBar()->setValue(horizontalScrollBar()->value() -
                                            horizontalScrollBar()->singleStep());
            return current;
        case MoveRight:
            horizontalScrollBar()->setValue(horizontalScrollBar()->value() +
                                            horizontalScrollBar()->singleStep());
            return current;
        default:
            return QTableView::moveCursor(cursorAction, modifiers);
    }
    return model()->index(row, current.column(), rootIndex());
}

void ReportListView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        fitRowHeightToFont();
    }
}

// Every row is one line of text in the list's font, as high as the style makes such an item.
void ReportListView::fitRowHeightToFont() {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("Mg@");
    const QSize size = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this);
    verticalHeader()->setDefaultSectionSize(size.height());
}

}  // namespace orlenta
