#pragma once

#include <QCursor>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace orlenta {

// The pointer settings of the window and of the source list, with the values the program
// reads and writes. Child widgets without a setting of their own (the buttons, the status
// line) show their window's pointer, as Qt's cursor inheritance does.
enum class MousePointer {
    Default = 0,     // the standard pointer of whatever lies under it
    Arrow = 1,       // the arrow
    Hourglass = 11,  // busy: Qt::WaitCursor
    Custom = 99,     // the owner's custom image; the arrow when it has none
};

// One widget's pointer setting: remembers the value and puts the matching Qt cursor on the
// widget (Default unsets it, so the widget shows what its parent or Qt chooses).
class PointerSetting final {
public:
    explicit PointerSetting(QWidget* widget);

    MousePointer value() const { return value_; }
    void set(MousePointer value);

    // The image shown for Custom; none shows the arrow. Applies at once if Custom is set.
    void setCustomImage(std::optional<QCursor> image);
    const std::optional<QCursor>& customImage() const { return customImage_; }

private:
    void apply();

    QPointer<QWidget> widget_;
    MousePointer value_ = MousePointer::Default;
    std::optional<QCursor> customImage_;
};

}  // namespace orlenta
