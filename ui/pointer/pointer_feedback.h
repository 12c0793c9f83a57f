#pragma once

namespace orlenta {

class Form1;

// Wires the window's pointer feedback (hover_feedback.h) and the carrying of source entries
// with the mouse (source_list_reorder.h) to the window's controls: the hand over the seven
// buttons, the default pointer over the background and the results list, and the source list's
// moves, which give the same default pointer before they carry anything. Both pieces are
// children of the window. Called once, after the window's source commands exist, since the
// first click on an entry switches their file drops off.
void InstallPointerFeedback(Form1& window);

}  // namespace orlenta
