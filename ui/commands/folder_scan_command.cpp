#include "ui/commands/folder_scan_command.h"

#include "sources/source_list_model.h"
#include "ui/commands/extraction_controller.h"
#include "ui/commands/long_work.h"
#include "ui/platform/event_loop_yielder.h"
#include "ui/platform/platform.h"

#include <QFile>

namespace orlenta {

FolderScanCommand::FolderScanCommand(SourceListModel& sources, LongWorkGuard& guard,
                                     FolderPicker& picker, MessageBoxes& messages,
                                     EventLoopYielder& yielder, QWidget* owner)
    : sources_(sources),
      guard_(guard),
      picker_(picker),
      messages_(messages),
      yielder_(yielder),
      owner_(owner) {}

void FolderScanCommand::run() {
    LongWorkGuard::Scope work = guard_.start(LongWork::FolderScan);
    if (!work) {
        return;
    }
    const QByteArray folder = picker_.pickFolder(owner_, QString::fromLatin1(FolderPrompt));
    if (folder.isEmpty()) {
        return;
    }
    work.showHourglass();
    scan(folder);
    // Named while the hourglass is still up, as the extraction run does; nothing is shown
    // after the window has closed.
    if (!lastScan_.unreadable.isEmpty() && !yielder_.stopRequested()) {
        TellUser(messages_, owner_, UnreadableFoldersMessage(lastScan_.unreadable));
    }
}

void FolderScanCommand::scan(const QByteArray& folder) {
    // Paths found between two turns of the event loop go into the list together, just before
    // the turn: the list looks as if they had gone in one by one (nothing can look at it in
    // between), and the view lays itself out once per turn instead of once per folder.
    QList<QByteArray> pending;
    const std::function<void()> publish = [this, &pending] {
        sources_.append(pending);
        pending.clear();
    };

    FolderScanHooks hooks;
    hooks.append = [&pending](const QList<QByteArray>& paths) { pending += paths; };
    hooks.ask = [this, &publish](const QString& name) {
        publish();  // the user sees the list as it stands when asked
        return ask(name);
    };
    hooks.yield = [this, &publish](ScanYieldPoint point) {
        // A name is enumerated thousands of times a second; a folder is opened far less often.
        return point == ScanYieldPoint::NameEnumerated ? yielder_.yieldFrequent(publish)
                                                       : yielder_.yield(publish);
    };

    lastScan_ = {};
    lastScan_ = ScanFolder(folder, hooks);
    publish();
}

LoadAnswer FolderScanCommand::ask(const QString& name) {
    if (yielder_.stopRequested()) {
        return LoadAnswer::Cancel;
    }
    const MessageAnswer answer = AskYesNoCancel(messages_, owner_, LoadQuestionText(name));
    // The window may have closed while the question was up: the scan ends there.
    if (yielder_.stopRequested()) {
        return LoadAnswer::Cancel;
    }
    switch (answer) {
        case MessageAnswer::Yes:
            return LoadAnswer::Yes;
        case MessageAnswer::No:
            return LoadAnswer::No;
        case MessageAnswer::Cancel:
        case MessageAnswer::Ok:
            break;
    }
    return LoadAnswer::Cancel;
}

QString UnreadableFoldersMessage(const QList<UnreadableFolder>& folders) {
    return ListedProblemsMessage(QStringLiteral("These folders could not be read:"),
                                 static_cast<int>(folders.size()), [&folders](int i) {
                                     return QFile::decodeName(folders.at(i).path) +
                                            QStringLiteral(": ") + folders.at(i).reason;
                                 });
}

}  // namespace orlenta
