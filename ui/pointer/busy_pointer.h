#pragma once

#include "mouse_pointer.h"

#include <QtGlobal>

namespace orlenta {

// Shows the hourglass on a window for as long as the guard lives, and takes it down however
// the work ends: a refused question, a failed write, a stop because the window closed, an
// exception.
//
// When the guard finds the hourglass already up, another long operation is still running
// beneath this one (a save started during an extraction run, say), and the hourglass stays
// for that operation to take down.
class BusyPointer final {
public:
    explicit BusyPointer(PointerSetting& pointer)
        : pointer_(pointer), nested_(pointer.value() == MousePointer::Hourglass) {
        pointer_.set(MousePointer::Hourglass);
    }
    ~BusyPointer() {
        if (!nested_) {
            pointer_.set(MousePointer::Default);
        }
    }
    Q_DISABLE_COPY_MOVE(BusyPointer)

private:
    PointerSetting& pointer_;
    const bool nested_;
};

}  // namespace orlenta
