#pragma once

#include <QTableView>

class QHeaderView;

namespace orlenta {

// The window's two lists: rows of one text each in a single column under a header, which the
// user may drag wider than the list (the list then scrolls sideways). It looks and answers the
// mouse and the keys as a one-level tree view does: Home and End go to the first and the last
// row, Left and Right scroll sideways, Page Up and Page Down move by the list's height from the
// current row's top, and the row at the scroll bar's value is the top row shown, at the end of
// the list too (which leaves room below the last row instead of cutting the top one).
//
// It is a table underneath because a table takes rows appended at the end at a cost that does
// not grow with the rows already there, where a tree view lays out all of its rows again. The
// extraction run appends to the results list at every turn of the event loop, and a large run
// ends with hundreds of thousands of rows.
class ReportListView final : public QTableView {
    Q_OBJECT

public:
    explicit ReportListView(QWidget* parent = nullptr);

    // The column header; the list's one column is its section 0.
    QHeaderView* header() const { return horizontalHeader(); }

    // Lays out the rows still pending first, so that a row just appended can be scrolled to.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

    void doItemsLayout() override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void changeEvent(QEvent* event) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;

private:
    void fitRowHeightToFont();
    void onRowCountChanged(int oldCount, int newCount);
    void keepTopRowAtScrollValue();
};

}  // namespace orlenta
