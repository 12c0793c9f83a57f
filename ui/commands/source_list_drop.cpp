#include "ui/commands/source_list_drop.h"

#include "sources/source_list_model.h"

#include <QAbstractItemView>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace orlenta {

SourceListDropTarget::SourceListDropTarget(QAbstractItemView& view, SourceListModel& sources,
                                           QObject* parent)
    : QObject(parent), view_(view), viewport_(view.viewport()), sources_(sources) {
    viewport_->installEventFilter(this);
    setAcceptsFileDrops(true);
}

void SourceListDropTarget::setAcceptsFileDrops(bool accepts) {
    accepts_ = accepts;
    // Drags are only offered to widgets that accept drops: switched off, the list is not even
    // asked, and the pointer shows no-drop over it.
    view_.viewport()->setAcceptDrops(accepts);
}

QList<QByteArray> SourceListDropTarget::DroppedPaths(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) {
        return {};
    }
    const QList<QUrl> urls = data->urls();
    QList<QByteArray> paths;
    paths.reserve(urls.size());
    for (const QUrl& url : urls) {
        // One web link among files makes it something other than a list of files.
        if (!url.isLocalFile()) {
            return {};
        }
        // The URL carries the name's bytes percent-encoded; toLocalFile() would make text of
        // them and lose a name that is not valid UTF-8.
        paths.append(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    }
    return paths;
}

bool SourceListDropTarget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != viewport_) {
        return false;
    }
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            // The enter event derives from the move event.
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (accepts_ && !DroppedPaths(drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::DragLeave:
            event->accept();
            return true;
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QList<QByteArray> paths =
                accepts_ ? DroppedPaths(drop->mimeData()) : QList<QByteArray>();
            if (paths.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            sources_.append(paths);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace orlenta
