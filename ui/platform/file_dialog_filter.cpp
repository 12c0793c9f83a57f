#include "file_dialog_filter.h"

namespace orlenta {

namespace {

QString QtPatterns(const QString& windowsPatterns) {
    QStringList patterns;
    for (const QString& pattern : windowsPatterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = pattern.trimmed();
        if (trimmed.isEmpty()) {
            continue;
        }
        patterns << (trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed);
    }
    return patterns.isEmpty() ? QStringLiteral("*") : patterns.join(QLatin1Char(' '));
}

}  // namespace

QStringList QtNameFilters(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    // Descriptions and patterns alternate; the final "|" leaves an empty last part.
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString patterns = parts.value(i + 1);
        if (description.isEmpty() && patterns.isEmpty()) {
            continue;
        }
        filters << QStringLiteral("%1 (%2)").arg(description, QtPatterns(patterns));
    }
    return filters;
}

}  // namespace orlenta
