#include "ui/commands/extraction_controller.h"

#include "engine/extraction_run.h"
#include "results/results_model.h"
#include "sources/source_list_model.h"
#include "ui/commands/long_work.h"
#include "ui/platform/event_loop_yielder.h"
#include "ui/platform/platform.h"

#include <QFile>
#include <QLabel>

#include <new>
#include <stdexcept>

namespace orlenta {

namespace {

// What the engine hands on goes to the window. New addresses are collected and handed to the
// results list just before each turn of the event loop, all at once: the list looks exactly as
// if they had been appended one by one (nothing can look at it between two turns), and the
// views are told once per turn instead of once per address.
class WindowRunSink final : public RunSink {
public:
    WindowRunSink(ResultsModel& results, QLabel& statusLine, EventLoopYielder& yielder)
        : results_(results), statusLine_(statusLine), yielder_(yielder) {}

    bool yield(YieldPoint point) override {
        // Tokens and addresses come thousands a millisecond; files and full chunks do not.
        if (point == YieldPoint::BeforeCandidate || point == YieldPoint::BeforeAppend) {
            return yielder_.yieldFrequent(publish_);
        }
        return yielder_.yield(publish_);
    }
    void chunkScanned() override { adding_ = true; }
    void addressFound(std::string_view address) override { found_.add(address); }
    void chunkDone() override { adding_ = false; }

    // The status line too is shown as it stands at the turn (it reads "Adding Emails to List"
    // while a chunk's addresses are being appended) rather than set twice for every chunk.
    void publish() {
        results_.append(std::move(found_));
        statusLine_.setText(adding_ ? AddingEmailsText : QString());
    }

private:
    ResultsModel& results_;
    QLabel& statusLine_;
    EventLoopYielder& yielder_;
    AddressList found_;
    bool adding_ = false;
    const std::function<void()> publish_ = [this] { publish(); };
};

QString FromFileSystem(const std::string& text) {
    return QFile::decodeName(QByteArray::fromStdString(text));
}

}  // namespace

ExtractionController::ExtractionController(SourceListModel& sources, ResultsModel& results,
                                           QLabel& statusLine, LongWorkGuard& guard,
                                           MessageBoxes& messages, EventLoopYielder& yielder,
                                           QWidget* owner)
    : sources_(sources),
      results_(results),
      statusLine_(statusLine),
      guard_(guard),
      messages_(messages),
      yielder_(yielder),
      owner_(owner) {}

void ExtractionController::run() {
    LongWorkGuard::Scope work = guard_.start(LongWork::Run);
    if (!work) {
        return;
    }
    work.showHourglass();
    lastRun_ = {};
    if (sources_.count() == 0) {
        // The hourglass stays while the message is up.
        TellUser(messages_, owner_, NoFilesAddedText);
    } else {
        extract();
    }
}

void ExtractionController::extract() {
    WindowRunSink sink(results_, statusLine_, yielder_);
    const auto pathAt = [this](std::size_t i) {
        const int row = static_cast<int>(i);
        // Entries are held in place during a run; an entry gone all the same reads as no file.
        return row < sources_.count() ? sources_.pathAt(row).toStdString() : std::string();
    };
    yielder_.resetMeasurement();
    RunResult result;
    QString failure;
    try {
        result = RunExtraction(static_cast<std::size_t>(sources_.count()), pathAt, sink);
    } catch (const std::bad_alloc&) {
        failure = OutOfMemoryText;
    } catch (const std::length_error& error) {
        // A size the set of addresses cannot pass; it says which.
        failure = OutOfMemoryText + QStringLiteral(" (") + QString::fromLocal8Bit(error.what()) +
                  QLatin1Char(')');
    }
    // Also after a failure: the run's set of addresses is gone by now, which leaves room for
    // the addresses found before it to join the list.
    sink.publish();
    // A run stopped between a chunk's scan and its end leaves no status behind.
    statusLine_.clear();
    lastRun_ = {result.filesRead, result.addressesFound, result.skipped.size(),
                result.stopped || !failure.isEmpty()};

    if (!failure.isEmpty()) {
        TellUser(messages_, owner_, failure);
    } else if (!result.skipped.empty() && !yielder_.stopRequested()) {
        TellUser(messages_, owner_, SkippedFilesMessage(result.skipped));
    }
}

QString SkippedFilesMessage(const std::vector<SkippedFile>& skipped) {
    return ListedProblemsMessage(QStringLiteral("These files could not be read:"),
                                 static_cast<int>(skipped.size()), [&skipped](int i) {
                                     return FromFileSystem(skipped[i].path) + QStringLiteral(": ") +
                                            QString::fromLocal8Bit(skipped[i].reason.c_str());
                                 });
}

QString ListedProblemsMessage(const QString& heading, int count,
                              const std::function<QString(int)>& lineAt) {
    QString text = heading;
    const int listed = std::min(count, MaxListedSkippedFiles);
    for (int i = 0; i < listed; ++i) {
        text += QLatin1Char('\n') + lineAt(i);
    }
    const int more = count - listed;
    if (more > 0) {
        text += QStringLiteral("\n... and %1 more.").arg(more);
    }
    return text;
}

}  // namespace orlenta
