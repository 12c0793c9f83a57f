#include "sources/scan_rules.h"

namespace orlenta {

QString LoadQuestionText(const QString& name) {
    return name + QLatin1String(LoadQuestionTail);
}

bool IsPassedOver(const QString& name) {
    return name.startsWith(QLatin1Char('~'));
}

bool NeedsLoadQuestion(const QString& name) {
    // ".html" contains ".htm"; both are kept so that the three expected kinds stay visible.
    return !name.contains(QLatin1String(".htm")) && !name.contains(QLatin1String(".html")) &&
           !name.contains(QLatin1String(".txt"));
}

}  // namespace orlenta
