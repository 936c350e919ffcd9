// Quorvex start-up: runs the capture window modally; the program ends with it.
#include "CaptureDialog.h"

#include <QApplication>

#include <sys/prctl.h>

int main(int argc, char** argv) {
    // Polled every millisecond: ticks on time, not up to 50 µs late (the
    // kernel's default timer slack).
    prctl(PR_SET_TIMERSLACK, 1000UL);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvex"));
    // Lets the desktop match the window to its menu entry (Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.automotivescope.Quorvex"));
    capture::CaptureDialog dialog;
    dialog.Run();
    return 0;
}
