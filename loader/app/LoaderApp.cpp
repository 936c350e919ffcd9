// Haldrin's start-up: run the loader window modally; when it ends, so does the program.
#include "LoaderDialog.h"

#include <QApplication>

#include <cstdio>
#include <new>
#include <sys/prctl.h>

int main(int argc, char** argv) {
    // The protocol's 1 ms between steps, not 1.05 ms: the kernel may otherwise
    // defer a timer's wake-up by its default slack of 50 µs.
    prctl(PR_SET_TIMERSLACK, 1000UL);
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(loader::DesktopDownload::kDesktopId));
    try {
        loader::LoaderDialog dialog;
        dialog.exec();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "haldrin: not enough memory for the 8 MiB firmware image buffer\n");
        return 1;
    }
    return 0;
}
