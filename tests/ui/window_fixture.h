#pragma once

#include "tests/ui/scripted_platform.h"
#include "ui/window/form1.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <vector>

namespace orlenta {

// The main window, shown offscreen on a scripted platform, with a temporary folder for the
// files a test reads and writes; that folder is also the program folder the platform names.
// Presses and clicks go through QTest, as a user's would.
class WindowFixture final {
public:
    WindowFixture();
    Q_DISABLE_COPY_MOVE(WindowFixture)

    QString filePath(const QString& name) const { return dir.filePath(name); }

    // Check1 .. Check7 by their designer names, and a left click on one.
    PressButton* button(int check) const;
    void press(int check);

    // The results list: filled from code, read as text.
    void setResults(const QStringList& addresses);
    QStringList results() const;

    // A click or a double-click in the middle of row `row` of the results list.
    void clickResult(int row);
    void doubleClickResult(int row);
    // The rows selected in the results list.
    QList<int> selectedResults() const;

    // The message boxes shown so far, and those of them with only an OK button.
    std::vector<ScriptedPlatform::Record> messages() const;
    std::vector<ScriptedPlatform::Record> notices() const;

    QTemporaryDir dir;
    ScriptedPlatform platform;
    Form1 form;
};

// A double-click at `at`, as the window system delivers it: press, release, double-click,
// release.
void DoubleClick(QWidget* widget, QPoint at);

// "person0@example.com", "person1@example.com", ...
QStringList NumberedAddresses(int count);

// What the two saves must write for `addresses`, spelled out apart from the writers.
QByteArray ListFileBytes(const QStringList& addresses);
QByteArray CommaFileBytes(const QStringList& addresses);

// The whole file, or a null array when it cannot be read.
QByteArray ReadBytes(const QString& path);
bool PutBytes(const QString& path, const QByteArray& bytes);

// The names in a folder, hidden ones included: a save must leave no temporary file behind.
QStringList FolderEntries(const QString& folder);

// How the application's event loop ended.
struct LoopEnd {
    bool timedOut = false;  // still running after 20 s, stopped by the watchdog
    int status = 0;         // what QCoreApplication::exec returned
};

// Runs the application's event loop, calling `start` (a press, say) from its first turn, until
// the loop ends or a 20-second watchdog gives up. For the tests that close the window in the
// middle of a command: the program must then leave its event loop at once, with status 0.
LoopEnd RunEventLoop(QObject* context, const std::function<void()>& start);

}  // namespace orlenta
