#pragma once

#include "ui/platform/platform.h"

#include <QList>
#include <QRect>
#include <QStringList>

#include <functional>
#include <vector>

namespace orlenta {

// A platform for tests: every call is recorded with its settings, dialogs and message boxes
// answer from queues filled by the test, and nothing real is ever opened. Hooks let a test act
// at the moment of a call (say, check the pointer while a message box is up) or inside the
// event loop of a running command (press a button, close the window).
class ScriptedPlatform final : public Platform {
public:
    enum class Call {
        OpenDialog,
        SaveDialog,
        FolderPicker,
        Message,
        ScreenGeometry,
        ProgramFolder,
        Draw,
        OpenUrl,
        PointerPosition,
    };

    struct Record {
        Call call;
        QWidget* owner = nullptr;
        FileDialogSettings dialog;   // OpenDialog, SaveDialog
        MessageBoxSettings message;  // Message
        QString text;                // FolderPicker: the prompt; OpenUrl: the address
    };

    // ---- Answers, taken from the front. An empty queue answers as a cancelled dialog or, for
    // a message box, with Ok, No or Cancel (by its buttons). Paths are bytes, as the file system
    // names them (FileName below for a path written as text).
    QList<QList<QByteArray>> openAnswers;
    QList<QByteArray> saveAnswers;
    QList<QByteArray> folderAnswers;
    QList<MessageAnswer> messageAnswers;

    QRect screen{0, 0, 1024, 768};
    QString folder;  // the program folder
    int draw = 1;    // what drawFrom1To100 gives
    QPoint pointer;  // the pointer's screen position

    // ---- What happened.
    mutable std::vector<Record> calls;  // the getters record too
    int processEventsCount = 0;
    std::vector<Record> callsOf(Call call) const;

    // ---- Hooks. onCall runs after a call has been recorded, before it answers.
    // onProcessEvents runs at every processEvents, before the real events are handled.
    std::function<void(const Record&)> onCall;
    std::function<void()> onProcessEvents;
    bool handleRealEvents = true;  // processEvents also runs QCoreApplication::processEvents

    // The clock moves on by this much at every now(), and every yield reads it, so by default
    // every yield is a turn of the event loop.
    Clock::duration clockStep = std::chrono::seconds(1);
    YieldPacing pace{std::chrono::milliseconds(5), std::chrono::milliseconds(30), 4, 1};

    QList<QByteArray> showOpenDialog(QWidget* owner, const FileDialogSettings& settings) override;
    QByteArray showSaveDialog(QWidget* owner, const FileDialogSettings& settings) override;
    QByteArray pickFolder(QWidget* owner, const QString& prompt) override;
    MessageAnswer showMessage(QWidget* owner, const MessageBoxSettings& box) override;

    QRect screenGeometry() const override;
    QString programFolder() const override;
    int drawFrom1To100() override;
    void openUrl(const QString& address) override;

    QPoint pointerScreenPosition() const override;

    void processEvents() override;
    Clock::time_point now() const override;
    YieldPacing pacing() const override { return pace; }

private:
    void record(Record record) const;

    mutable Clock::time_point clock_{};
};

// The bytes a dialog gives for a path written here as text.
QByteArray FileName(const QString& path);
QList<QByteArray> FileNames(const QStringList& paths);

}  // namespace orlenta
