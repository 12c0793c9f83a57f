#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

class QAbstractItemView;
class QWidget;
class QMimeData;

namespace orlenta {

class SourceListModel;

// Files dragged from the file manager onto the source list (ListView1). A drag that carries
// local files and nothing else is accepted with the action its source proposes, and on the
// drop every path is appended in the order delivered, folders included, without any check.
// Anything else (selected text, web links) is refused while it is dragged, so the pointer
// shows that it cannot be dropped, and it is never appended.
//
// The list is a drop target from the start. setAcceptsFileDrops(false) switches that off (the
// first click on an entry does so, for the rest of the window's life); from then on every drag
// over the list is refused. Works as an event filter on the list's viewport, which is where
// the drag events arrive.
class SourceListDropTarget final : public QObject {
    Q_OBJECT

public:
    SourceListDropTarget(QAbstractItemView& view, SourceListModel& sources,
                         QObject* parent = nullptr);

    bool acceptsFileDrops() const { return accepts_; }
    void setAcceptsFileDrops(bool accepts);

    // The paths a drag would append, as the file system names them, in the order delivered;
    // empty when the data is not a non-empty list of local files.
    static QList<QByteArray> DroppedPaths(const QMimeData* data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractItemView& view_;
    // Kept from the start: events still arrive while the view is being destroyed, when its
    // viewport() may no longer be called.
    QWidget* const viewport_;
    SourceListModel& sources_;
    bool accepts_ = true;
};

}  // namespace orlenta
