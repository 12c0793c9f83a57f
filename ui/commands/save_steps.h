#pragma once

#include "result_writers.h"

#include <QString>

class QWidget;

namespace orlenta {

class FileDialogs;
class MessageBoxes;

// The steps that "Save Results As List" and "Save As Comma Delimited" share: the Save dialog,
// the question before an existing file is replaced, and the write that tells the user when it
// fails.

inline const QString SaveDialogTitle = QStringLiteral("Save List");
inline const QString SaveDialogFilter =
    QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");

// "Are you sure you wish to overwrite /home/ann/list.txt ?"
QString OverwriteQuestion(const QString& path);
// "Could not save /home/ann/list.txt: Permission denied"
QString SaveFailedMessage(const QString& path, const QString& reason);

// Shows the Save dialog, set up anew each time: empty name box, the standard flags, the title
// and filter above. The path as chosen or typed (no extension added), or "" when cancelled.
QString AskSaveFileName(FileDialogs& dialogs, QWidget* owner);

// True when `path` may be written: nothing is there (FileExists), or the user answered Yes to
// the overwrite question.
bool MayOverwrite(MessageBoxes& messages, QWidget* owner, const QString& path);

// Replaces the file at `path` with `addresses` in `format`, all or nothing (SaveResults). A
// failure is told in one message that names the file and the reason; when `beforeAddress`
// abandons the save, nothing is written and nothing is shown. True when the file was written.
bool WriteResultsFile(MessageBoxes& messages, QWidget* owner, const QString& path,
                      const Addresses& addresses, ResultFormat format,
                      const AddressHook& beforeAddress = {});

}  // namespace orlenta
