#include "ui/platform/qt_platform.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QTime>
#include <QUrl>

namespace orlenta {

namespace {

QString Filters(const FileDialogSettings& settings) {
    return settings.nameFilters.join(QStringLiteral(";;"));
}

}  // namespace

QList<QByteArray> QtPlatform::showOpenDialog(QWidget* owner, const FileDialogSettings& settings) {
    const QStringList chosen =
        QFileDialog::getOpenFileNames(owner, settings.title, QString(), Filters(settings), nullptr,
                                      QFileDialog::HideNameFilterDetails);
    QList<QByteArray> paths;
    paths.reserve(chosen.size());
    for (const QString& path : chosen) {
        paths.append(QFile::encodeName(QDir::toNativeSeparators(path)));
    }
    return paths;
}

QByteArray QtPlatform::showSaveDialog(QWidget* owner, const FileDialogSettings& settings) {
    // No default suffix, and the program asks its own overwrite question.
    const QString path = QFileDialog::getSaveFileName(
        owner, settings.title, QString(), Filters(settings), nullptr,
        QFileDialog::DontConfirmOverwrite | QFileDialog::HideNameFilterDetails);
    return QFile::encodeName(QDir::toNativeSeparators(path));
}

QByteArray QtPlatform::pickFolder(QWidget* owner, const QString& prompt) {
    return QFile::encodeName(QDir::toNativeSeparators(
        QFileDialog::getExistingDirectory(owner, prompt, QString(), QFileDialog::ShowDirsOnly)));
}

MessageAnswer QtPlatform::showMessage(QWidget* owner, const MessageBoxSettings& box) {
    QMessageBox message(QMessageBox::NoIcon, box.caption, box.text, QMessageBox::NoButton, owner);
    message.setTextFormat(Qt::PlainText);
    switch (box.buttons) {
        case MessageButtons::Ok:
            message.setStandardButtons(QMessageBox::Ok);
            message.setEscapeButton(QMessageBox::Ok);
            break;
        case MessageButtons::YesNo:
            message.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            message.setDefaultButton(QMessageBox::Yes);
            message.setEscapeButton(QMessageBox::No);
            break;
        case MessageButtons::YesNoCancel:
            message.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            message.setDefaultButton(QMessageBox::Yes);
            message.setEscapeButton(QMessageBox::Cancel);
            break;
    }
    // Esc and the close box give the escape button's answer.
    switch (message.exec()) {
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        default:
            return MessageAnswer::Ok;
    }
}

QRect QtPlatform::screenGeometry() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

QString QtPlatform::programFolder() const {
    return QCoreApplication::applicationDirPath();
}

int QtPlatform::drawFrom1To100() {
    QRandomGenerator generator(static_cast<quint32>(QTime::currentTime().msecsSinceStartOfDay()));
    return DrawFrom1To100(generator.generateDouble());
}

void QtPlatform::openUrl(const QString& address) {
    // Starts the browser and returns; whether it worked makes no difference to the start.
    QDesktopServices::openUrl(QUrl(address));
}

QPoint QtPlatform::pointerScreenPosition() const {
    return QCursor::pos();
}

void QtPlatform::processEvents() {
    QCoreApplication::processEvents();
}

EventLoop::Clock::time_point QtPlatform::now() const {
    return Clock::now();
}

int DrawFrom1To100(double fraction) {
    return static_cast<int>(fraction * 100) + 1;
}

}  // namespace orlenta
