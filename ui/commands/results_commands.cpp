#include "ui/commands/results_commands.h"

#include "results/results_model.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>

namespace orlenta {

bool RemoveSelectedResult(const QAbstractItemView& view, ResultsModel& results) {
    const QItemSelectionModel* selection = view.selectionModel();
    if (selection == nullptr) {
        return false;
    }
    // The list allows one selected row at most.
    const QModelIndexList rows = selection->selectedRows();
    return !rows.isEmpty() && results.removeAt(rows.first().row());
}

}  // namespace orlenta
