#pragma once

// The platform the window benchmarks run the real window on: Qt's own, except that nothing
// waits for a person. The dialogs answer with the paths set here, every question is answered
// Yes, messages go to standard error and are counted, and the start never opens the browser.
// Every turn of the event loop is timed, and so are the gaps between turns.

#include "bench/bench_support.h"
#include "ui/platform/qt_platform.h"

#include <QByteArray>

namespace bench {

class WindowBenchPlatform final : public orlenta::QtPlatform {
public:
    QList<QByteArray> showOpenDialog(QWidget* owner,
                                     const orlenta::FileDialogSettings& settings) override;
    QByteArray showSaveDialog(QWidget* owner, const orlenta::FileDialogSettings& settings) override;
    QByteArray pickFolder(QWidget* owner, const QString& prompt) override;
    orlenta::MessageAnswer showMessage(QWidget* owner,
                                       const orlenta::MessageBoxSettings& box) override;
    int drawFrom1To100() override { return 1; }
    void openUrl(const QString&) override {}
    void processEvents() override;

    // From `start` on the gaps between turns count; finish() counts the last one.
    void startMeasuring(Clock::time_point start);
    void finish(Clock::time_point end);

    QByteArray savePath;  // what the Save dialog answers
    QByteArray folder;    // what the folder browser answers

    int messages = 0;  // every box shown
    int notices = 0;   // of them, those with only an OK button
    Clock::time_point lastTurnEnd{};
    Clock::duration longestStall{};
    Clock::duration longestTurn{};
    Clock::duration handling{};
    long turns = 0;
};

}  // namespace bench
