#include "ui/commands/save_commands.h"

#include "results/result_writers.h"
#include "results/results_model.h"
#include "ui/commands/long_work.h"
#include "ui/platform/event_loop_yielder.h"
#include "ui/platform/file_exists.h"
#include "ui/platform/platform.h"

#include <QFile>

namespace orlenta {

SaveCommands::SaveCommands(const ResultsModel& results, LongWorkGuard& guard, FileDialogs& dialogs,
                           MessageBoxes& messages, EventLoopYielder& yielder, QWidget* owner)
    : results_(results),
      guard_(guard),
      dialogs_(dialogs),
      messages_(messages),
      yielder_(yielder),
      owner_(owner) {}

void SaveCommands::saveAsList() {
    const LongWorkGuard::Scope work = guard_.start(LongWork::ListSave);
    if (!work) {
        return;
    }
    const QByteArray path = askFileName();
    if (path.isEmpty() || !mayOverwrite(path)) {
        return;
    }
    QString reason;
    if (!SaveResults(path, results_.snapshot(), ResultFormat::List, &reason)) {
        TellUser(messages_, owner_, SaveFailedMessage(QFile::decodeName(path), reason));
    }
}

void SaveCommands::saveCommaDelimited() {
    LongWorkGuard::Scope work = guard_.start(LongWork::CommaSave);
    if (!work) {
        return;
    }
    const QByteArray path = askFileName();
    if (path.isEmpty()) {
        return;
    }
    work.showHourglass();
    if (!mayOverwrite(path)) {
        return;
    }
    // The yields below let a clear, a removal or a run change the list; the file gets the
    // list as it stood here. One yield per address, made cheap by yieldFrequent, which reads
    // the clock only now and then.
    const AddressSnapshot addresses = results_.snapshot();
    bool givenUp = false;
    const AddressHook beforeAddress = [this, &givenUp] {
        givenUp = !yielder_.yieldFrequent();
        return !givenUp;
    };
    QString reason;
    if (!SaveResults(path, addresses, ResultFormat::CommaDelimited, &reason, beforeAddress) &&
        !givenUp) {
        TellUser(messages_, owner_, SaveFailedMessage(QFile::decodeName(path), reason));
    }
}

QByteArray SaveCommands::askFileName() {
    return dialogs_.showSaveDialog(owner_, {SaveDialogTitle, SaveDialogFilters});
}

bool SaveCommands::mayOverwrite(const QByteArray& path) {
    return !FileExists(path) ||
           AskYesNo(messages_, owner_, OverwriteQuestion(QFile::decodeName(path))) ==
               MessageAnswer::Yes;
}

QString OverwriteQuestion(const QString& path) {
    return QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?");
}

QString SaveFailedMessage(const QString& path, const QString& reason) {
    return QStringLiteral("Could not save ") + path + QStringLiteral(": ") + reason;
}

}  // namespace orlenta
