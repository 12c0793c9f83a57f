#pragma once

#include <QPushButton>

namespace orlenta {

// One of the window's seven command buttons: a check box in push-button dress. A click flips
// its value between 0 and 1. The click handler acts only when the click has left the value at
// 1: it first sets the value back to 0 (which must not, and does not, act again) and only then
// emits activated(). So each press runs its action exactly once and leaves the button raised.
// A click that finds the value at 1 (set from code) only resets it and does nothing else.
//
// Looks: white face, caption in Arial 11.25 pt bold, and as its picture a fully transparent
// 32x32 icon, which takes no room beside the caption.
class PressButton final : public QPushButton {
    Q_OBJECT

public:
    explicit PressButton(const QString& text, QWidget* parent = nullptr);

    // 1 while pressed in, 0 when raised.
    int value() const { return isChecked() ? 1 : 0; }
    void setValue(int value) { setChecked(value == 1); }

signals:
    // Once per press, after the button has been raised again.
    void activated();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void onClicked();
};

}  // namespace orlenta
