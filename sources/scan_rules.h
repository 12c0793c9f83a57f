#pragma once

#include <QString>

namespace orlenta {

// The prompt of the folder browser that starts a folder scan.
inline constexpr char FolderPrompt[] = "Please select folder to add:";

// What the folder scan asks about a file whose name is not of the expected kinds; the bare
// file name goes in front (LoadQuestionText). The answers are Yes, No and Cancel.
inline constexpr char LoadQuestionTail[] =
    " is not a .htm .html or .txt file. Do you want to load it into the list of files to "
    "extract from?";

// "e.csv is not a .htm .html or .txt file. Do you want ..."
QString LoadQuestionText(const QString& name);

// Names beginning with "~" (editors' and office programs' temporary files) are passed over
// without a question.
bool IsPassedOver(const QString& name);

// True when the name contains none of ".htm", ".html" and ".txt" anywhere, compared exactly:
// "d.TXT" and "e.csv" need the question, "notes.txt.bak" does not.
bool NeedsLoadQuestion(const QString& name);

}  // namespace orlenta
