#pragma once

#include <QString>

class QWidget;

namespace orlenta {

class EventLoopYielder;
class MessageBoxes;
class ResultsModel;

// The comma-delimited writer behind "Save As Comma Delimited": writes every address of
// `results`, in list order, as one line joined by commas and ended by CR LF, to `path`.
//
// Asks before it replaces an existing file (No: nothing written, nothing shown). Works on a
// copy of the list taken once that is settled, and yields through `yielder` before each
// address while it builds the line, so the window stays live; whatever the user does to the
// list meanwhile does not reach the file. When the window closes during those yields the save
// is given up and nothing is written. The file is replaced all or nothing; a failure is told
// in a message that names the file. Messages go to `owner`.
//
// It does not touch the pointer: the caller shows the hourglass around the call.
void SaveCommaDelimited(const ResultsModel& results, const QString& path, MessageBoxes& messages,
                        QWidget* owner, EventLoopYielder& yielder);

}  // namespace orlenta
