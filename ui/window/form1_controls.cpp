#include "ui/window/form1_controls.h"

#include "ui/window/press_button.h"
#include "ui/window/report_list_view.h"
#include "ui/window/twips.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>

namespace orlenta {

namespace {

QFont ListFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9);
    font.setWeight(QFont::Bold);
    return font;
}

}  // namespace

void PlaceControl(QWidget* control, const ControlLayout& layout) {
    control->setObjectName(QString::fromLatin1(layout.name));
    control->setGeometry(TwipsToPixels(layout.left), TwipsToPixels(layout.top),
                         TwipsToPixels(layout.width), TwipsToPixels(layout.height));
    if (*layout.hint != '\0') {
        control->setToolTip(QString::fromLatin1(layout.hint));
    }
}

ReportListView* CreateListView(const ControlLayout& layout, QAbstractItemModel* model,
                               QWidget* parent) {
    auto* view = new ReportListView(parent);
    PlaceControl(view, layout);
    view->setFont(ListFont());
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->setModel(model);
    // The column keeps the width it is given (the start-up sets it); dragging the divider to
    // the right makes it wider than the list, and the list scrolls sideways to show it.
    view->header()->setStretchLastSection(false);
    view->header()->setSectionResizeMode(QHeaderView::Interactive);
    view->header()->setSectionsMovable(false);
    return view;
}

PressButton* CreateButton(const ControlLayout& layout, QWidget* parent) {
    auto* button = new PressButton(QString::fromLatin1(layout.text), parent);
    PlaceControl(button, layout);
    return button;
}

QLabel* CreateStatusLine(const ControlLayout& layout, QWidget* parent) {
    auto* label = new QLabel(parent);
    PlaceControl(label, layout);
    label->setFont(ListFont());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    label->setTextFormat(Qt::PlainText);
    // The colours of the lists: window text on window background.
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Base));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Text));
    label->setPalette(palette);
    label->setAutoFillBackground(true);
    return label;
}

QPushButton* CreateFocusHolder(const ControlLayout& layout, QWidget* parent) {
    auto* button = new QPushButton(QString::fromLatin1(layout.text), parent);
    PlaceControl(button, layout);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

}  // namespace orlenta
