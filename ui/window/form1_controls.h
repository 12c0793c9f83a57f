#pragma once

#include "ui/window/form1_layout.h"

class QAbstractItemModel;
class QLabel;
class QPushButton;
class QWidget;

namespace orlenta {

class PressButton;
class ReportListView;

// Builds one control of the window's layout table on `parent`: object name, place and size
// (through the one twips conversion), caption, hint and the looks of its kind. The window only
// chooses which builder a row gets.

// A report-view list over `model` (report_list_view.h): one column with the model's heading,
// header shown, Arial 9 pt bold. The column may be dragged wider than the list, which then
// scrolls sideways.
ReportListView* CreateListView(const ControlLayout& layout, QAbstractItemModel* model,
                               QWidget* parent);

PressButton* CreateButton(const ControlLayout& layout, QWidget* parent);

// The status line: empty, Arial 9 pt bold in the list colours, takes no focus.
QLabel* CreateStatusLine(const ControlLayout& layout, QWidget* parent);

// The off-screen button that holds the keyboard focus when the window opens; no action.
QPushButton* CreateFocusHolder(const ControlLayout& layout, QWidget* parent);

// Object name, geometry and hint of any control from its row.
void PlaceControl(QWidget* control, const ControlLayout& layout);

}  // namespace orlenta
