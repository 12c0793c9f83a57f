#include "pointer_feedback.h"

#include "form1.h"
#include "hover_feedback.h"
#include "press_button.h"
#include "source_commands.h"
#include "source_list_reorder.h"

#include <QTreeView>

namespace orlenta {

void InstallPointerFeedback(Form1& window) {
    QList<QWidget*> buttons;
    for (int number = 1; window.check(number) != nullptr; ++number) {
        buttons << window.check(number);
    }
    auto* hover = new HoverFeedback(window, window.windowPointer(), buttons,
                                    {window.resultsView()->viewport()}, &window);
    hover->setObjectName(QStringLiteral("HoverFeedback"));

    auto* reorder = new SourceListReorder(
        {*window.sourceView(), window.sourceList(), window.sourceListPointer(),
         window.windowPointer(), window.platform(), window.platform(),
         [&window] { window.sourceCommands().setAcceptsFileDrops(false); }},
        &window);
    reorder->setObjectName(QStringLiteral("SourceListReorder"));
}

}  // namespace orlenta
