#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QWidget;

namespace orlenta {

class EventLoopYielder;
class LongWorkGuard;
class MessageBoxes;
class ResultsModel;
class SourceListModel;
struct SkippedFile;

struct RunSummary {
    std::size_t filesRead = 0;
    std::size_t addressesFound = 0;
    std::size_t filesSkipped = 0;
    bool stopped = false;
};

// The run of "Delete Duplicate Emails" inside the window. The window's pointer shows the
// hourglass from the start of a run to its end. An empty source list is answered with
// "No files added."; otherwise the engine reads the source list's files in list order, each
// path fetched by position just before its file is read (the count is taken once, at the
// start), and every address it finds is appended to the results list while the status line
// reads "Adding Emails to List". The run yields to the event loop at the engine's yield points
// and ends at once when the window closes. Files that could not be read are named, with the
// reason, in one message at the end. A run that runs out of memory stops there with
// OutOfMemoryText in a message box; every address found until then stays in the list.
//
// The run goes through the window's LongWorkGuard (long_work.h): a press while a run is going
// does nothing, and the hourglass stays up while any other long operation still works. While
// a run is going, entries must stay where they are (the run reads them by position): the
// window holds back removal and clearing of the source list meanwhile.
class ExtractionController final {
public:
    ExtractionController(SourceListModel& sources, ResultsModel& results, QLabel& statusLine,
                         LongWorkGuard& guard, MessageBoxes& messages, EventLoopYielder& yielder,
                         QWidget* owner);

    // What the last run did: files read, addresses appended, files passed over, and whether it
    // was stopped by the window closing or by a lack of memory (then the counts are 0). Empty
    // before the first run and after "No files added."
    const RunSummary& lastRun() const { return lastRun_; }

    // The action of Check2. Returns when the run is over (it yields meanwhile).
    void run();

private:
    void extract();

    SourceListModel& sources_;
    ResultsModel& results_;
    QLabel& statusLine_;
    LongWorkGuard& guard_;
    MessageBoxes& messages_;
    EventLoopYielder& yielder_;
    QWidget* const owner_;
    RunSummary lastRun_;
};

inline const QString NoFilesAddedText = QStringLiteral("No files added.");
inline const QString AddingEmailsText = QStringLiteral("Adding Emails to List");
inline const QString OutOfMemoryText = QStringLiteral(
    "There is not enough memory to go on, so the run stopped. The addresses found until then "
    "are in the list.");

// The message that names the files a run could not read, each with its reason, one per line;
// a long list is cut after MaxListedSkippedFiles lines and says how many more there were.
inline constexpr int MaxListedSkippedFiles = 20;
QString SkippedFilesMessage(const std::vector<SkippedFile>& skipped);

// The same shape for any list of problems: `heading`, then lineAt(0) .. lineAt(count - 1) one
// per line, cut after MaxListedSkippedFiles lines with "... and N more." (the folder scan names
// the folders it could not read this way).
QString ListedProblemsMessage(const QString& heading, int count,
                              const std::function<QString(int)>& lineAt);

}  // namespace orlenta
