#include "save_comma.h"

#include "event_loop_yielder.h"
#include "results_model.h"
#include "save_steps.h"

namespace orlenta {

void SaveCommaDelimited(const ResultsModel& results, const QString& path, MessageBoxes& messages,
                        QWidget* owner, EventLoopYielder& yielder) {
    if (!MayOverwrite(messages, owner, path)) {
        return;
    }
    // The yields below let a clear, a removal or an extraction run change the list; the file
    // gets the list as it stood when the save began.
    const Addresses addresses = results.snapshot();
    // One yield per address; yieldFrequent keeps that cheap by reading the clock only now and
    // then, so a million addresses cost little more than the writing.
    WriteResultsFile(messages, owner, path, addresses, ResultFormat::CommaDelimited,
                     [&yielder] { return yielder.yieldFrequent(); });
}

}  // namespace orlenta
