#pragma once

#include <QObject>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QString>

#include <functional>

class QAbstractItemView;
class QWidget;

namespace orlenta {

class PointerPosition;
class PointerSetting;
class SourceListModel;
class StartupServices;

// Carrying an entry of the source list (ListView1) to another place with the mouse, one place
// at a time.
//
//  - A left-button press on an entry is the click on it: the list shows the drag image (the
//    program folder's drag.ico; the arrow when that cannot be read), stops taking dropped files
//    for the rest of the window's life, and remembers the entry the click selected as the
//    carried one.
//  - Any button pressed anywhere on the list sets the drag flag; the release clears it and puts
//    the arrow on the list. The carried entry stays remembered, so a later press, even on an
//    empty part of the list, carries it again.
//  - Every pointer move over the list first gives the window its default pointer (never over
//    the hourglass). With the flag set, a move over another entry whose path differs (exactly,
//    case included) exchanges the two paths, selects the entry under the pointer, which now
//    holds the carried path, and carries on from there. When the pointer is high on the screen
//    (row < 305 pixels) the entry above comes into view, when low (row >= 365) the one below.
//
// The click is taken at the press, not at the release where Qt reports clicks: the moves of the
// first drag come between the two, and must already know what they carry. A click that lands
// on no entry remembers nothing new. While a button is held the list's own move handling (drag
// selection, rubber band, drags) is kept out, and so is the release that ends such moves, so
// only the exchanges select. A move with no button down ends a drag whose release went
// elsewhere. The carried entry is followed as a persistent index: once its entry is removed or
// the list cleared it is gone, and moves carry nothing until the next click on an entry.
class SourceListReorder final : public QObject {
    Q_OBJECT

public:
    struct Parts {
        QAbstractItemView& view;  // over `sources`
        SourceListModel& sources;
        PointerSetting& listPointer;
        PointerSetting& windowPointer;
        const PointerPosition& pointer;         // the screen row that decides the scrolling
        const StartupServices& programFolder;   // where drag.ico is looked for
        std::function<void()> stopTakingDrops;  // called at every click on an entry
    };

    explicit SourceListReorder(Parts parts, QObject* parent = nullptr);

    bool dragFlag() const { return dragFlag_; }
    // The row (from 0) of the entry being carried, or -1 when there is none.
    int carriedRow() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onPressed(const QModelIndex& index);
    void startCarrying();
    void release();
    void moveOver(QPoint position);
    void selectWithoutScrolling(const QModelIndex& index);
    void scrollNearScreenEdge(int position);

    Parts parts_;
    // Kept from the start: events still arrive while the view is being destroyed, when its
    // viewport() may no longer be called.
    QWidget* const viewport_;
    bool dragFlag_ = false;
    Qt::MouseButton pressedButton_ = Qt::NoButton;
    bool tookHeldMoves_ = false;  // since the last press, kept from the list
    QPersistentModelIndex carried_;
};

// Where the drag image is looked for: the program folder, the platform's separator and
// "drag.ico".
QString DragImagePath(const QString& programFolder);

// The screen rows, in pixels, above which and from which on an exchange scrolls the list.
inline constexpr int ScrollUpAboveScreenRow = 305;
inline constexpr int ScrollDownFromScreenRow = 365;

}  // namespace orlenta
