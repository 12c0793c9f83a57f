#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QWidget;

namespace orlenta {

class EventLoopYielder;
class FileDialogs;
class LongWorkGuard;
class MessageBoxes;
class ResultsModel;

// The two saves of the results list, once per press of their button. Both ask for a file name
// in the Save dialog (cancel: nothing happens), ask before replacing an existing file (No:
// nothing is written), and write the list as it stands when the writing begins: a snapshot, so
// that nothing done to the list meanwhile reaches the file. Neither changes the list or its
// selection, and neither reports success; a failure is told in one message that names the
// file. Only one save works at a time (long_work.h); a save pressed meanwhile is ignored.
class SaveCommands final {
public:
    SaveCommands(const ResultsModel& results, LongWorkGuard& guard, FileDialogs& dialogs,
                 MessageBoxes& messages, EventLoopYielder& yielder, QWidget* owner);

    // "Save Results As List" (Check6): one address per line, each ended by CR LF. Quick, so it
    // neither shows the hourglass nor yields.
    void saveAsList();

    // "Save As Comma Delimited" (Check4): the addresses joined by commas on one line ended by
    // CR LF. The hourglass is up from the overwrite question to the end; the line is built
    // with a yield before each address, and a window closed meanwhile gives the save up
    // without writing anything.
    void saveCommaDelimited();

private:
    QByteArray askFileName();
    bool mayOverwrite(const QByteArray& path);

    const ResultsModel& results_;
    LongWorkGuard& guard_;
    FileDialogs& dialogs_;
    MessageBoxes& messages_;
    EventLoopYielder& yielder_;
    QWidget* const owner_;
};

inline const QString SaveDialogTitle = QStringLiteral("Save List");
// Shown as "Text Files (*.txt)" and "All Files (*.*)", the first one chosen (see AllFilesFilter).
inline const QStringList SaveDialogFilters{QStringLiteral("Text Files (*.txt) (*.txt)"),
                                           QStringLiteral("All Files (*.*) (*)")};

// "Are you sure you wish to overwrite /home/ann/list.txt ?"
QString OverwriteQuestion(const QString& path);
// "Could not save /home/ann/list.txt: Permission denied"
QString SaveFailedMessage(const QString& path, const QString& reason);

}  // namespace orlenta
