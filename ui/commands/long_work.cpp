#include "ui/commands/long_work.h"

#include "ui/pointer/mouse_pointer.h"

namespace orlenta {

LongWorkGuard::LongWorkGuard(PointerSetting& windowPointer) : pointer_(windowPointer) {}

bool LongWorkGuard::mayStart(LongWork work) const {
    if (isRunning(work)) {
        return false;
    }
    const bool save = work == LongWork::ListSave || work == LongWork::CommaSave;
    return !(save && (isRunning(LongWork::ListSave) || isRunning(LongWork::CommaSave)));
}

LongWorkGuard::Scope LongWorkGuard::start(LongWork work) {
    return Scope(mayStart(work) ? this : nullptr, work);
}

void LongWorkGuard::raiseHourglass() {
    if (hourglasses_++ == 0) {
        pointer_.set(MousePointer::Hourglass);
    }
}

void LongWorkGuard::lowerHourglass() {
    if (--hourglasses_ == 0) {
        pointer_.set(MousePointer::Default);
    }
}

LongWorkGuard::Scope::Scope(LongWorkGuard* guard, LongWork work) : guard_(guard), work_(work) {
    if (guard_) {
        guard_->running_[Index(work_)] = true;
    }
}

LongWorkGuard::Scope::~Scope() {
    if (!guard_) {
        return;
    }
    if (hourglass_) {
        guard_->lowerHourglass();
    }
    guard_->running_[Index(work_)] = false;
}

void LongWorkGuard::Scope::showHourglass() {
    if (guard_ && !hourglass_) {
        hourglass_ = true;
        guard_->raiseHourglass();
    }
}

}  // namespace orlenta
