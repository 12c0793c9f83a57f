#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QSizeF>
#include <QString>

class QWidget;

namespace orlenta {

class PointerSetting;
class ReportListView;
class StartupServices;

// The main window's load steps, run once before it is first shown, in this order:
//   1. centre the window on the screen by its outer size;
//   2. load the hand pointer from the program folder's HAND-M.CUR, if that file exists;
//   3. one start in a hundred (a draw of 7 from 1..100), open the maker's home page;
//   4. set the caption "Orlenta";
//   5. and 6. give each list its single column, 6000 twips wide.
// Nothing here shows a message or can stop the start.

struct LoadTargets {
    QWidget& window;
    PointerSetting& windowPointer;
    ReportListView& sourceList;
    ReportListView& resultsList;
};

void RunLoadSteps(const LoadTargets& targets, StartupServices& services);

// The window's top-left corner, in twips from the screen's, for a window of `windowSize`
// (its outer size) on a screen of `screenSize`, both in twips. The halves are neither rounded
// nor clamped: a window larger than the screen gets a negative position.
//   (1024 x 768 pixels = 15360 x 11520 twips, 7380 x 6375) -> (3990, 2572.5)
QPointF CentredTopLeftTwips(const QSizeF& screenSize, const QSizeF& windowSize);

// The same in pixels on `screen` (its geometry, offset included), through the one twips
// conversion.
QPoint CentredTopLeft(const QRect& screen, const QSize& outerSize);

// Where the hand pointer is looked for: the program folder, the platform's separator and
// "HAND-M.CUR".
QString HandCursorPath(const QString& programFolder);

// The draw that opens the home page.
inline constexpr int HomePageDraw = 7;

}  // namespace orlenta
