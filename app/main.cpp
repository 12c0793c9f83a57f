// Orlenta: collects e-mail addresses out of text files, without duplicates. The program is its
// one window; it reads no settings and takes no arguments of its own.

#include "ui/platform/qt_platform.h"
#include "ui/window/form1.h"

#include <QApplication>

#include <csignal>

int main(int argc, char* argv[]) {
    // A save into a FIFO whose reader goes away must fail with "Broken pipe", not end the
    // program and its unsaved results.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QApplication application(argc, argv);
    QApplication::setApplicationName(orlenta::ApplicationTitle);

    orlenta::QtPlatform platform;
    orlenta::Form1 window(platform);
    window.show();
    return QApplication::exec();
}
