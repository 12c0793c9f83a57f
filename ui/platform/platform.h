#pragma once

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>

class QWidget;

namespace orlenta {

// What the program asks of the desktop, as small interfaces: dialogs, message boxes, the
// screen, the random draw of the start-up, the browser, the event loop. The window and the
// commands talk only to these, so tests drive them with scripted answers (tests/ui/
// scripted_platform.h) and no test ever opens a real dialog or browser. QtPlatform
// (qt_platform.h) is the real thing.

// The window's caption and the caption of every message box.
inline const QString ApplicationTitle = QStringLiteral("Orlenta");

// ---- File dialogs ---------------------------------------------------------------------------

// Each use of a file dialog says all it needs; a dialog opens with an empty name box.
struct FileDialogSettings {
    QString title;
    QStringList nameFilters;  // Qt name filters, shown without their pattern lists,
                              // e.g. {"Text Files (*.txt) (*.txt)", "All Files (*.*) (*)"}
};

// Paths come back as the file system names them (QFile::encodeName of what the dialog shows):
// a name that is not valid text still opens the file it names.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    // The Open dialog, several files at once: the chosen paths in the dialog's order (from
    // several folders if the dialog allows it); none when cancelled.
    virtual QList<QByteArray> showOpenDialog(QWidget* owner,
                                             const FileDialogSettings& settings) = 0;

    // The Save dialog: the path as chosen or typed, or empty when cancelled. It adds no
    // extension and asks no overwrite question of its own; the program asks its own.
    virtual QByteArray showSaveDialog(QWidget* owner, const FileDialogSettings& settings) = 0;
};

class FolderPicker {
public:
    virtual ~FolderPicker() = default;

    // The folder browser with `prompt` as its title: the chosen folder, or empty when
    // cancelled.
    virtual QByteArray pickFolder(QWidget* owner, const QString& prompt) = 0;
};

// ---- Message boxes --------------------------------------------------------------------------

enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct MessageBoxSettings {
    QString text;
    QString caption = ApplicationTitle;
    MessageButtons buttons = MessageButtons::Ok;
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    // A modal message box without icon. Yes is the default button where there is one; Esc and
    // the close box answer No to Yes/No and Cancel to Yes/No/Cancel.
    virtual MessageAnswer showMessage(QWidget* owner, const MessageBoxSettings& box) = 0;
};

// The three kinds of box the program shows, each with the application title as caption.
void TellUser(MessageBoxes& boxes, QWidget* owner, const QString& text);
MessageAnswer AskYesNo(MessageBoxes& boxes, QWidget* owner, const QString& question);
MessageAnswer AskYesNoCancel(MessageBoxes& boxes, QWidget* owner, const QString& question);

// ---- Start-up -------------------------------------------------------------------------------

class StartupServices {
public:
    virtual ~StartupServices() = default;

    // The whole screen the window opens on, in pixels.
    virtual QRect screenGeometry() const = 0;

    // The folder the program was started from, without a final separator.
    virtual QString programFolder() const = 0;

    // A random whole number from 1 to 100, each equally likely, from a generator seeded with
    // the time of day.
    virtual int drawFrom1To100() = 0;

    // Hands `address` to the default browser without waiting; reports nothing either way.
    virtual void openUrl(const QString& address) = 0;
};

// ---- The pointer and the event loop ---------------------------------------------------------

class PointerPosition {
public:
    virtual ~PointerPosition() = default;

    // Where the mouse pointer is on the screen, in pixels from the screen's top-left corner.
    virtual QPoint pointerScreenPosition() const = 0;
};

// How often long work hands control to the event loop (see EventLoopYielder).
struct YieldPacing {
    std::chrono::steady_clock::duration minInterval = std::chrono::milliseconds(5);
    std::chrono::steady_clock::duration maxInterval = std::chrono::milliseconds(30);
    int workPerTurn = 4;                 // the work gets this many times the time of a turn
    int frequentCallsPerClockRead = 16;  // see EventLoopYielder::yieldFrequent
};

class EventLoop {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~EventLoop() = default;

    // Handles the pending input and repaint events, then returns.
    virtual void processEvents() = 0;

    // The clock that paces processEvents, and the pace.
    virtual Clock::time_point now() const = 0;
    virtual YieldPacing pacing() const { return {}; }
};

// Everything above in one object: what the window is given.
class Platform : public FileDialogs,
                 public FolderPicker,
                 public MessageBoxes,
                 public StartupServices,
                 public PointerPosition,
                 public EventLoop {};

}  // namespace orlenta
