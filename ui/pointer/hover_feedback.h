#pragma once

#include "ui/pointer/mouse_pointer.h"

#include <QList>
#include <QObject>
#include <QPoint>

class QWidget;

namespace orlenta {

// What a pointer move over a button, the window's background or a list does to the window's
// pointer: `wanted` (Custom, the hand, over a button; Default elsewhere), except while a long
// operation shows the hourglass, which only that operation takes down.
void ShowHoverPointer(PointerSetting& windowPointer, MousePointer wanted);

// The window's hover feedback: every pointer move over one of `buttons` puts up the hand, every
// move over the window's own background or over one of `lists` (their viewports) the default
// pointer, both through ShowHoverPointer. Moves over anything else (the status line, a list's
// header or scroll bars) change nothing, so the pointer keeps what the last move left. The
// buttons and the status line have no cursor of their own and show the window's.
//
// Mouse tracking is switched on for every watched widget, so moves without a button held
// arrive too. Never takes an event away from the widget it is meant for.
class HoverFeedback final : public QObject {
    Q_OBJECT

public:
    HoverFeedback(QWidget& window, PointerSetting& windowPointer, QList<QWidget*> buttons,
                  QList<QWidget*> lists, QObject* parent = nullptr);

    // The feedback for a pointer resting at `screenPosition` (pixels on the screen), as if it
    // had just moved there: for when a modal box or dialog has closed, since the window then
    // gets no move until the mouse moves again. Outside the window nothing changes.
    void showAt(QPoint screenPosition);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QWidget* widget);
    bool isOverBackground(const QEvent* event) const;

    QWidget& window_;
    PointerSetting& windowPointer_;
    QList<QWidget*> buttons_;
    QList<QWidget*> lists_;
};

}  // namespace orlenta
