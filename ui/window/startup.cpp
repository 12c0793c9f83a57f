#include "ui/window/startup.h"

#include "ui/platform/file_exists.h"
#include "ui/platform/platform.h"
#include "ui/pointer/cursor_file.h"
#include "ui/pointer/mouse_pointer.h"
#include "ui/window/form1_layout.h"
#include "ui/window/home_page.h"
#include "ui/window/report_list_view.h"
#include "ui/window/twips.h"

#include <QDir>
#include <QHeaderView>
#include <QWidget>

namespace orlenta {

namespace {

void CentreOnScreen(QWidget& window, const QRect& screen) {
    // Before the first show the frame is not known on every platform; the outer size is then
    // the client size, and Qt places the frame's corner where we ask.
    window.move(CentredTopLeft(screen, window.frameGeometry().size()));
}

void LoadHandPointer(PointerSetting& windowPointer, const QString& programFolder) {
    const QString path = HandCursorPath(programFolder);
    if (FileExists(path)) {
        // An unreadable file leaves no image, so the arrow shows instead.
        windowPointer.setCustomImage(LoadCursorFile(path));
    }
}

void MaybeOpenHomePage(StartupServices& services) {
    if (services.drawFrom1To100() == HomePageDraw) {
        services.openUrl(HomePageAddress());
    }
}

void GiveSingleColumn(ReportListView& list) {
    list.header()->resizeSection(0, TwipsToPixels(ListColumnWidthTwips));
}

}  // namespace

void RunLoadSteps(const LoadTargets& targets, StartupServices& services) {
    CentreOnScreen(targets.window, services.screenGeometry());
    LoadHandPointer(targets.windowPointer, services.programFolder());
    MaybeOpenHomePage(services);
    targets.window.setWindowTitle(ApplicationTitle);
    GiveSingleColumn(targets.sourceList);
    GiveSingleColumn(targets.resultsList);
}

QPointF CentredTopLeftTwips(const QSizeF& screenSize, const QSizeF& windowSize) {
    return {(screenSize.width() - windowSize.width()) / 2,
            (screenSize.height() - windowSize.height()) / 2};
}

QPoint CentredTopLeft(const QRect& screen, const QSize& outerSize) {
    const QPointF twips = CentredTopLeftTwips(
        QSizeF(PixelsToTwips(screen.width()), PixelsToTwips(screen.height())),
        QSizeF(PixelsToTwips(outerSize.width()), PixelsToTwips(outerSize.height())));
    return screen.topLeft() + QPoint(TwipsToPixels(twips.x()), TwipsToPixels(twips.y()));
}

QString HandCursorPath(const QString& programFolder) {
    return programFolder + QDir::separator() + QStringLiteral("HAND-M.CUR");
}

}  // namespace orlenta
