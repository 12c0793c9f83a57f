#pragma once

#include "ui/platform/platform.h"

namespace orlenta {

class HoverFeedback;

// The platform's dialogs and message boxes, each followed by the hover feedback for where the
// pointer now rests. While a modal box is up the window gets no pointer moves, and when it
// closes only an Enter event comes: without this the pointer would keep the picture it had
// before (the hand over the background, after "No" was answered with the keyboard) until the
// mouse moved. The hourglass of a long operation stays, as with every hover feedback.
class HoverAfterModal final : public FileDialogs, public FolderPicker, public MessageBoxes {
public:
    HoverAfterModal(Platform& platform, HoverFeedback& hover);

    QList<QByteArray> showOpenDialog(QWidget* owner, const FileDialogSettings& settings) override;
    QByteArray showSaveDialog(QWidget* owner, const FileDialogSettings& settings) override;
    QByteArray pickFolder(QWidget* owner, const QString& prompt) override;
    MessageAnswer showMessage(QWidget* owner, const MessageBoxSettings& box) override;

private:
    template <typename Answer>
    Answer thenHover(Answer answer);

    Platform& platform_;
    HoverFeedback& hover_;
};

}  // namespace orlenta
