#include "ui/pointer/hover_feedback.h"

#include <QMouseEvent>
#include <QWidget>

namespace orlenta {

void ShowHoverPointer(PointerSetting& windowPointer, MousePointer wanted) {
    if (windowPointer.value() != MousePointer::Hourglass) {
        windowPointer.set(wanted);
    }
}

HoverFeedback::HoverFeedback(QWidget& window, PointerSetting& windowPointer,
                             QList<QWidget*> buttons, QList<QWidget*> lists, QObject* parent)
    : QObject(parent),
      window_(window),
      windowPointer_(windowPointer),
      buttons_(std::move(buttons)),
      lists_(std::move(lists)) {
    watch(&window_);
    for (QWidget* button : std::as_const(buttons_)) {
        watch(button);
    }
    for (QWidget* list : std::as_const(lists_)) {
        watch(list);
    }
}

void HoverFeedback::watch(QWidget* widget) {
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
}

bool HoverFeedback::isOverBackground(const QEvent* event) const {
    // A button ignores a move without a pressed button, and Qt then hands the move on to the
    // window: only a move where no control lies is one over the background.
    const auto* move = static_cast<const QMouseEvent*>(event);
    return window_.childAt(move->position().toPoint()) == nullptr;
}

void HoverFeedback::showAt(QPoint screenPosition) {
    const QPoint local = window_.mapFromGlobal(screenPosition);
    if (!window_.rect().contains(local)) {
        return;
    }
    // The innermost widget there, then its parents: a button's or a list's children count as
    // the button or the list; the status line, headers and scroll bars match nothing.
    for (QWidget* widget = window_.childAt(local); widget != &window_;
         widget = widget->parentWidget()) {
        if (widget == nullptr) {
            ShowHoverPointer(windowPointer_, MousePointer::Default);  // the background
            return;
        }
        if (buttons_.contains(widget)) {
            ShowHoverPointer(windowPointer_, MousePointer::Custom);
            return;
        }
        if (lists_.contains(widget)) {
            ShowHoverPointer(windowPointer_, MousePointer::Default);
            return;
        }
    }
}

bool HoverFeedback::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseMove) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (buttons_.contains(widget)) {
        ShowHoverPointer(windowPointer_, MousePointer::Custom);
    } else if (lists_.contains(widget) || (widget == &window_ && isOverBackground(event))) {
        ShowHoverPointer(windowPointer_, MousePointer::Default);
    }
    return false;
}

}  // namespace orlenta
