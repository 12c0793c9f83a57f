#pragma once

class QAbstractItemView;

namespace orlenta {

class ResultsModel;

// Removes the address selected in `view` (the results list, showing `results`): what a
// double-click on the results list does. The addresses below it move up one place. Without a
// selection nothing changes and nothing is shown; the answer is then false.
bool RemoveSelectedResult(const QAbstractItemView& view, ResultsModel& results);

}  // namespace orlenta
