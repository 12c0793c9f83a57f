#include "ui/commands/source_list_removal.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QMouseEvent>

namespace orlenta {

RemoveSelectedOnDoubleClick::RemoveSelectedOnDoubleClick(QAbstractItemView& view,
                                                         std::function<void(int row)> remove,
                                                         QObject* parent)
    : QObject(parent), view_(view), viewport_(view.viewport()), remove_(std::move(remove)) {
    viewport_->installEventFilter(this);
}

int RemoveSelectedOnDoubleClick::SelectedRow(const QAbstractItemView& view) {
    const QItemSelectionModel* selection = view.selectionModel();
    if (selection == nullptr) {
        return -1;
    }
    const QModelIndexList rows = selection->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

bool RemoveSelectedOnDoubleClick::eventFilter(QObject* watched, QEvent* event) {
    if (watched != viewport_ || event->type() != QEvent::MouseButtonDblClick ||
        static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) {
        return false;
    }
    const int row = SelectedRow(view_);
    if (row >= 0 && remove_) {
        remove_(row);
    }
    return true;
}

}  // namespace orlenta
