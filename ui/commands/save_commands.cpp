#include "save_commands.h"

#include "busy_pointer.h"
#include "form1.h"
#include "results_model.h"
#include "save_comma.h"
#include "save_steps.h"

namespace orlenta {

void SaveResultsAsList(Form1& window) {
    const QString path = AskSaveFileName(window.platform(), &window);
    if (path.isEmpty() || !MayOverwrite(window.platform(), &window, path)) {
        return;
    }
    WriteResultsFile(window.platform(), &window, path, window.results().snapshot(),
                     ResultFormat::List);
}

void SaveAsCommaDelimited(Form1& window) {
    const QString path = AskSaveFileName(window.platform(), &window);
    if (path.isEmpty()) {
        return;
    }
    const BusyPointer busy(window.windowPointer());
    SaveCommaDelimited(window.results(), path, window.platform(), &window, window.yielder());
}

}  // namespace orlenta
