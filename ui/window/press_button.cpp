#include "ui/window/press_button.h"

#include "ui/window/transparent_icon.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace orlenta {

PressButton::PressButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setCheckable(true);
    setAutoDefault(false);
    setIcon(TransparentIcon());
    setIconSize(TransparentIconSize);

    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(11.25);
    font.setWeight(QFont::Bold);
    setFont(font);

    QPalette palette = this->palette();
    palette.setColor(QPalette::Button, Qt::white);
    setPalette(palette);

    connect(this, &QAbstractButton::clicked, this, &PressButton::onClicked);
}

void PressButton::onClicked() {
    if (value() != 1) {
        return;
    }
    // Raised again before the action runs, so a long action shows a raised button.
    setValue(0);
    emit activated();
}

void PressButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The picture is invisible; drawing it would only push the caption off centre.
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, option);
}

}  // namespace orlenta
