#pragma once

#include "ui/platform/platform.h"

namespace orlenta {

// The platform on Qt: QFileDialog, QMessageBox, the primary screen, a time-seeded random
// draw, QDesktopServices for the browser, QCursor::pos() and QCoreApplication::processEvents.
class QtPlatform : public Platform {
public:
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
};

// The draw behind drawFrom1To100: the whole part of 100 times a fraction in [0, 1), plus 1.
int DrawFrom1To100(double fraction);

}  // namespace orlenta
