#include "save_steps.h"

#include "file_exists.h"
#include "platform.h"

namespace orlenta {

QString OverwriteQuestion(const QString& path) {
    return QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?");
}

QString SaveFailedMessage(const QString& path, const QString& reason) {
    return QStringLiteral("Could not save ") + path + QStringLiteral(": ") + reason;
}

QString AskSaveFileName(FileDialogs& dialogs, QWidget* owner) {
    FileDialogSettings settings;
    settings.fileName = QString();
    settings.flags = DialogFlags::Standard;
    settings.title = SaveDialogTitle;
    settings.filter = SaveDialogFilter;
    return dialogs.showSaveDialog(owner, settings);
}

bool MayOverwrite(MessageBoxes& messages, QWidget* owner, const QString& path) {
    return !FileExists(path) ||
           AskYesNo(messages, owner, OverwriteQuestion(path)) == MessageAnswer::Yes;
}

bool WriteResultsFile(MessageBoxes& messages, QWidget* owner, const QString& path,
                      const Addresses& addresses, ResultFormat format,
                      const AddressHook& beforeAddress) {
    bool abandoned = false;
    AddressHook hook;
    if (beforeAddress) {
        hook = [&beforeAddress, &abandoned] {
            abandoned = !beforeAddress();
            return !abandoned;
        };
    }
    QString reason;
    if (SaveResults(path, addresses, format, &reason, hook)) {
        return true;
    }
    if (!abandoned) {
        TellUser(messages, owner, SaveFailedMessage(path, reason));
    }
    return false;
}

}  // namespace orlenta
