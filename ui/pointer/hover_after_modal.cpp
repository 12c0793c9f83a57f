#include "ui/pointer/hover_after_modal.h"

#include "ui/pointer/hover_feedback.h"

namespace orlenta {

HoverAfterModal::HoverAfterModal(Platform& platform, HoverFeedback& hover)
    : platform_(platform), hover_(hover) {}

template <typename Answer>
Answer HoverAfterModal::thenHover(Answer answer) {
    hover_.showAt(platform_.pointerScreenPosition());
    return answer;
}

QList<QByteArray> HoverAfterModal::showOpenDialog(QWidget* owner,
                                                  const FileDialogSettings& settings) {
    return thenHover(platform_.showOpenDialog(owner, settings));
}

QByteArray HoverAfterModal::showSaveDialog(QWidget* owner, const FileDialogSettings& settings) {
    return thenHover(platform_.showSaveDialog(owner, settings));
}

QByteArray HoverAfterModal::pickFolder(QWidget* owner, const QString& prompt) {
    return thenHover(platform_.pickFolder(owner, prompt));
}

MessageAnswer HoverAfterModal::showMessage(QWidget* owner, const MessageBoxSettings& box) {
    return thenHover(platform_.showMessage(owner, box));
}

}  // namespace orlenta
