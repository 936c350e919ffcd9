// Quorvex start-up: runs the capture window modally; the program ends with it.
#include "CaptureDialog.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvex"));
    // Lets the desktop match the window to its menu entry (Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.automotivescope.Quorvex"));
    capture::CaptureDialog dialog;
    dialog.Run();
    return 0;
}
