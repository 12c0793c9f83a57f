#include "ui/window/form1_layout.h"

#include <cstring>

namespace orlenta {

namespace {

constexpr const char* SourceListHint =
    "Drag and drop files here. Double-click item to remove it. Move bar to right and out of "
    "window to reveal full names.";
constexpr const char* ResultsListHint =
    "Double-click item to remove it. Move bar to right and out of window to reveal full names.";

using K = ControlKind;

constexpr std::array<ControlLayout, Form1ControlCount> Controls{{
    // kind, name, text, hint, left, top, width, height, tab index
    {K::List, "ListView1", "", SourceListHint, 120, 120, 7095, 1575, 1},
    {K::Button, "Check1", "Add File(s)", "", 120, 1800, 1815, 400, 2},
    {K::Button, "Check5", "Add All File(s) In Folder", "", 2040, 1800, 3135, 400, 3},
    {K::Button, "Check3", "Clear List", "", 5280, 1800, 1935, 400, 4},
    {K::Button, "Check2", "Delete Duplicate Emails", "", 120, 2280, 7095, 400, 5},
    {K::List, "ListView2", "", ResultsListHint, 120, 2760, 7095, 1935, 6},
    {K::Button, "Check6", "Save Results As List", "", 120, 4800, 2415, 400, 7},
    {K::Button, "Check4", "Save As Comma Delimited", "", 2640, 4800, 3015, 400, 10},
    {K::Button, "Check7", "Clear List", "", 5760, 4800, 1455, 400, 8},
    {K::StatusLine, "Label1", "", "", 120, 5280, 7095, 495, 9},
    // Wholly left of the client area (right edge -105), so it is never seen.
    {K::FocusHolder, "Command1", "Command1", "", -720, 2640, 615, 495, 0},
}};

}  // namespace

const std::array<ControlLayout, Form1ControlCount>& Form1Controls() {
    return Controls;
}

const ControlLayout* FindControlLayout(const char* name) {
    for (const ControlLayout& control : Controls) {
        if (std::strcmp(control.name, name) == 0) {
            return &control;
        }
    }
    return nullptr;
}

}  // namespace orlenta
