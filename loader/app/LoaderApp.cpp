// Haldrin's start-up: run the loader window modally; when it ends, so does the program.
#include "LoaderDialog.h"

#include <QApplication>

#include <cstdio>
#include <new>

int main(int argc, char** argv) {
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
