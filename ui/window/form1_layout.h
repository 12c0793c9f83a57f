#pragma once

#include <array>

namespace orlenta {

// The main window's layout as data: every control with its place and size in twips, measured
// from the top-left corner of the client area, and its place in the tab order. The window
// builds its controls from this table and the tests check the window against it.

inline constexpr int ClientWidthTwips = 7350;
inline constexpr int ClientHeightTwips = 5895;
// Both lists have one column this wide, narrower than the list itself.
inline constexpr int ListColumnWidthTwips = 6000;

enum class ControlKind {
    List,         // report-view list over a model; its one column's heading comes from the model
    Button,       // check box in graphical style, used as a push button (PressButton)
    StatusLine,   // label; takes no focus
    FocusHolder,  // off-screen command button that holds the first focus
};

struct ControlLayout {
    ControlKind kind;
    const char* name;  // the object name
    const char* text;  // caption; empty for the lists and the status line
    const char* hint;  // tooltip; empty for none
    int left;
    int top;
    int width;
    int height;
    int tabIndex;  // 0 comes first; the status line's index is kept but it takes no focus
};

inline constexpr int Form1ControlCount = 11;

// The controls from top to bottom (the file dialog has no place on the window).
const std::array<ControlLayout, Form1ControlCount>& Form1Controls();

// The row of `name` in Form1Controls(), or nullptr.
const ControlLayout* FindControlLayout(const char* name);

}  // namespace orlenta
