#include "tests/ui/scripted_platform.h"

#include <QCoreApplication>
#include <QFile>

namespace orlenta {

namespace {

template <typename T>
bool TakeFront(QList<T>& queue, T& answer) {
    if (queue.isEmpty()) {
        return false;
    }
    answer = queue.takeFirst();
    return true;
}

}  // namespace

std::vector<ScriptedPlatform::Record> ScriptedPlatform::callsOf(Call call) const {
    std::vector<Record> matching;
    for (const Record& record : calls) {
        if (record.call == call) {
            matching.push_back(record);
        }
    }
    return matching;
}

void ScriptedPlatform::record(Record record) const {
    calls.push_back(record);
    if (onCall) {
        onCall(record);
    }
}

QList<QByteArray> ScriptedPlatform::showOpenDialog(QWidget* owner,
                                                   const FileDialogSettings& settings) {
    record({Call::OpenDialog, owner, settings, {}, {}});
    QList<QByteArray> answer;
    TakeFront(openAnswers, answer);
    return answer;
}

QByteArray ScriptedPlatform::showSaveDialog(QWidget* owner, const FileDialogSettings& settings) {
    record({Call::SaveDialog, owner, settings, {}, {}});
    QByteArray answer;
    TakeFront(saveAnswers, answer);
    return answer;
}

QByteArray ScriptedPlatform::pickFolder(QWidget* owner, const QString& prompt) {
    record({Call::FolderPicker, owner, {}, {}, prompt});
    QByteArray answer;
    TakeFront(folderAnswers, answer);
    return answer;
}

MessageAnswer ScriptedPlatform::showMessage(QWidget* owner, const MessageBoxSettings& box) {
    record({Call::Message, owner, {}, box, {}});
    MessageAnswer answer;
    if (TakeFront(messageAnswers, answer)) {
        return answer;
    }
    switch (box.buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
        case MessageButtons::YesNoCancel:
            return MessageAnswer::Cancel;
    }
    return MessageAnswer::Cancel;
}

QRect ScriptedPlatform::screenGeometry() const {
    record({Call::ScreenGeometry, nullptr, {}, {}, {}});
    return screen;
}

QString ScriptedPlatform::programFolder() const {
    record({Call::ProgramFolder, nullptr, {}, {}, {}});
    return folder;
}

int ScriptedPlatform::drawFrom1To100() {
    record({Call::Draw, nullptr, {}, {}, {}});
    return draw;
}

void ScriptedPlatform::openUrl(const QString& address) {
    record({Call::OpenUrl, nullptr, {}, {}, address});
}

QPoint ScriptedPlatform::pointerScreenPosition() const {
    record({Call::PointerPosition, nullptr, {}, {}, {}});
    return pointer;
}

void ScriptedPlatform::processEvents() {
    ++processEventsCount;
    if (onProcessEvents) {
        onProcessEvents();
    }
    if (handleRealEvents) {
        QCoreApplication::processEvents();
    }
}

EventLoop::Clock::time_point ScriptedPlatform::now() const {
    clock_ += clockStep;
    return clock_;
}

QByteArray FileName(const QString& path) {
    return QFile::encodeName(path);
}

QList<QByteArray> FileNames(const QStringList& paths) {
    QList<QByteArray> names;
    for (const QString& path : paths) {
        names.append(FileName(path));
    }
    return names;
}

}  // namespace orlenta
