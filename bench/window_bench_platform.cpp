#include "bench/window_bench_platform.h"

#include <algorithm>
#include <cstdio>

namespace bench {

QList<QByteArray> WindowBenchPlatform::showOpenDialog(QWidget*,
                                                      const orlenta::FileDialogSettings&) {
    return {};
}

QByteArray WindowBenchPlatform::showSaveDialog(QWidget*, const orlenta::FileDialogSettings&) {
    return savePath;
}

QByteArray WindowBenchPlatform::pickFolder(QWidget*, const QString&) {
    return folder;
}

orlenta::MessageAnswer WindowBenchPlatform::showMessage(QWidget*,
                                                        const orlenta::MessageBoxSettings& box) {
    ++messages;
    if (box.buttons != orlenta::MessageButtons::Ok) {
        return orlenta::MessageAnswer::Yes;
    }
    std::fprintf(stderr, "message: %s\n", qPrintable(box.text));
    ++notices;
    return orlenta::MessageAnswer::Ok;
}

void WindowBenchPlatform::processEvents() {
    const Clock::time_point start = Clock::now();
    longestStall = std::max(longestStall, start - lastTurnEnd);
    QtPlatform::processEvents();
    lastTurnEnd = Clock::now();
    const Clock::duration took = lastTurnEnd - start;
    handling += took;
    longestTurn = std::max(longestTurn, took);
    ++turns;
}

void WindowBenchPlatform::startMeasuring(Clock::time_point start) {
    lastTurnEnd = start;
    longestStall = {};
    longestTurn = {};
    handling = {};
    turns = 0;
}

void WindowBenchPlatform::finish(Clock::time_point end) {
    longestStall = std::max(longestStall, end - lastTurnEnd);
}

}  // namespace bench
