#include "ui/platform/platform.h"

namespace orlenta {

void TellUser(MessageBoxes& boxes, QWidget* owner, const QString& text) {
    boxes.showMessage(owner, {text, ApplicationTitle, MessageButtons::Ok});
}

MessageAnswer AskYesNo(MessageBoxes& boxes, QWidget* owner, const QString& question) {
    return boxes.showMessage(owner, {question, ApplicationTitle, MessageButtons::YesNo});
}

MessageAnswer AskYesNoCancel(MessageBoxes& boxes, QWidget* owner, const QString& question) {
    return boxes.showMessage(owner, {question, ApplicationTitle, MessageButtons::YesNoCancel});
}

}  // namespace orlenta
