#pragma once

#include <QObject>

#include <functional>

class QAbstractItemView;
class QWidget;

namespace orlenta {

// The double-click on the source list (ListView1): removes the list's selected entry, found by
// its position. It acts on the selection, not on the point double-clicked: the first click of a
// double-click on an entry has selected it, so that entry goes. Without a selection nothing
// happens and nothing is shown.
//
// Watches the list's viewport for left-button double-clicks and takes them: to the list a
// double-click means this removal and nothing else.
class RemoveSelectedOnDoubleClick final : public QObject {
    Q_OBJECT

public:
    // `remove` gets the selected row (from 0); it may refuse, e.g. during an extraction run.
    RemoveSelectedOnDoubleClick(QAbstractItemView& view, std::function<void(int row)> remove,
                                QObject* parent = nullptr);

    // The selected row, or -1.
    static int SelectedRow(const QAbstractItemView& view);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractItemView& view_;
    // Kept from the start: events still arrive while the view is being destroyed, when its
    // viewport() may no longer be called.
    QWidget* const viewport_;
    std::function<void(int row)> remove_;
};

}  // namespace orlenta
