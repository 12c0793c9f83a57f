#include "ui/pointer/mouse_pointer.h"

namespace orlenta {

PointerSetting::PointerSetting(QWidget* widget) : widget_(widget) {}

void PointerSetting::set(MousePointer value) {
    value_ = value;
    apply();
}

void PointerSetting::setCustomImage(std::optional<QCursor> image) {
    customImage_ = std::move(image);
    if (value_ == MousePointer::Custom) {
        apply();
    }
}

void PointerSetting::apply() {
    if (!widget_) {
        return;
    }
    switch (value_) {
        case MousePointer::Default:
            widget_->unsetCursor();
            break;
        case MousePointer::Arrow:
            widget_->setCursor(Qt::ArrowCursor);
            break;
        case MousePointer::Hourglass:
            widget_->setCursor(Qt::WaitCursor);
            break;
        case MousePointer::Custom:
            widget_->setCursor(customImage_ ? *customImage_ : QCursor(Qt::ArrowCursor));
            break;
    }
}

}  // namespace orlenta
