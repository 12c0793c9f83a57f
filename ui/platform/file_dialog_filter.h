#pragma once

#include <QString>
#include <QStringList>

namespace orlenta {

// The file dialogs are described with Windows filters, "Description|pattern|" pairs whose
// patterns are separated by ";". Qt's file dialog wants one "Description (patterns)" entry per
// pair, patterns separated by blanks. "*.*", which on Windows matches every name, becomes "*"
// so that names without a dot are listed as well:
//   "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"
//     -> {"Text Files (*.txt) (*.txt)", "All Files (*.*) (*)"}
// The dialog shows only the description (QFileDialog::HideNameFilterDetails hides the last
// parenthesised part). A description without a pattern gets "*"; empty input gives no entry.
QStringList QtNameFilters(const QString& windowsFilter);

}  // namespace orlenta
