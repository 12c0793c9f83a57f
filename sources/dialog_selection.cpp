#include "dialog_selection.h"

#include <algorithm>

namespace orlenta {

namespace {

// The dialog's folder part and a name are joined with a separator, and the doubled separators
// that this produces (after a root folder such as "C:\") are folded back into one. The
// leading pair of a network share ("\\server\share") is not a doubling but the share's name,
// so it is left alone.
QString JoinFolderAndName(const QString& folder, const QString& name, QChar separator) {
    const QString doubled(2, separator);
    const qsizetype keep = folder.startsWith(doubled) ? doubled.size() : 0;
    QString tail = folder.mid(keep) + separator + name;
    tail.replace(doubled, QString(separator));
    return folder.left(keep) + tail;
}

// The folder part of a multiple choice: a root keeps its separator ("C:\", "/"), as the dialog
// gives it, so that the joining above has something to fold.
QString FolderText(const QStringList& parts, QChar separator) {
    QString folder = parts.join(separator);
    if (folder.isEmpty() || folder.endsWith(QLatin1Char(':'))) {
        folder += separator;
    }
    return folder;
}

}  // namespace

QStringList SplitDialogSelection(const QString& returned, QChar separator) {
    if (returned.isEmpty()) {
        return {};
    }
    const QStringList parts = returned.split(QChar(0), Qt::KeepEmptyParts);
    if (parts.size() == 1) {
        return parts;
    }
    QStringList paths;
    paths.reserve(parts.size() - 1);
    const QString& folder = parts.first();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        paths.append(JoinFolderAndName(folder, parts.at(i), separator));
    }
    return paths;
}

QString JoinDialogSelection(const QStringList& chosenPaths, QChar separator) {
    if (chosenPaths.isEmpty()) {
        return {};
    }
    if (chosenPaths.size() == 1) {
        return chosenPaths.first();
    }

    // Each path as its parts; the last part is the file's name, the others its folder.
    QList<QStringList> split;
    split.reserve(chosenPaths.size());
    for (const QString& path : chosenPaths) {
        split.append(path.split(separator, Qt::KeepEmptyParts));
    }

    // The deepest folder that holds every chosen path.
    qsizetype common = split.first().size() - 1;
    for (const QStringList& parts : split) {
        common = std::min(common, parts.size() - 1);
        for (qsizetype i = 0; i < common; ++i) {
            if (parts.at(i) != split.first().at(i)) {
                common = i;
                break;
            }
        }
    }
    // No folder in common: different drives, relative paths, or shares on different servers
    // (whose common part is only the leading "\\").
    const QStringList folderParts = split.first().mid(0, common);
    const bool onlyRoot = std::all_of(folderParts.begin(), folderParts.end(),
                                      [](const QString& part) { return part.isEmpty(); });
    if (common == 0 || (onlyRoot && common > 1)) {
        return {};
    }

    QStringList answer{FolderText(folderParts, separator)};
    for (const QStringList& parts : split) {
        answer.append(parts.mid(common).join(separator));
    }
    return answer.join(QChar(0));
}

}  // namespace orlenta
