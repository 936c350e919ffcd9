// The capture window on an X display (run under xvfb-run): layout, zoom and painting,
// the about rule, message boxes and where they open, the keys beside the buttons,
// printing without a printer and to PDF, and the pictures of the live demo for the
// documentation.
#include "AboutDialog.h"
#include "CaptureControls.h"
#include "CaptureDialog.h"
#include "CaptureRig.h"
#include "PrintLayout.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QMessageBox>
#include <QPrintDialog>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

using namespace capturetest;
using capture::CaptureDialog;

namespace {

// A machine without a printer: the print system asks a server that is not there
// (set before the application starts, so before the print system reads it).
const bool kNoPrinterInstalled = setenv("CUPS_SERVER", "/nonexistent/cups.sock", 1) == 0;

// Where a box opens: its centre's distance from the centre of the area it is meant for.
int OffCentre(const QWidget* box, const QRect& area) {
    return (box->frameGeometry().center() - area.center()).manhattanLength();
}

// messages null: the real message boxes.
std::unique_ptr<CaptureDialog> MakeDialog(capture::DriverTable& driver, appsupport::Messages* messages) {
    CaptureDialog::Options options;
    options.binding = {capture::DriverTable::kLibraryFileName, {SCOPE_BIN_DIR}};
    options.driver = &driver;
    options.messages = messages;
    return std::make_unique<CaptureDialog>(options);
}

} // namespace

TEST(CaptureWindow, LayoutZoomPictureAndAboutRule) {
    testsupport::VirtualScopeProcess scope(FastLink({"--picture", "pattern:first-pixel"}));
    capture::DriverTable driver;
    RecordingPorts messages;
    const auto dialog = MakeDialog(driver, &messages);
    CaptureDialog& d = *dialog;
    ASSERT_TRUE(d.OnInitDialog());
    EXPECT_EQ(d.windowTitle(), "Quorvex Ver 1.2");
    // In tab order; OK and Cancel are there for the keyboard only, the command buttons gray.
    QList<QPushButton*> inOrder;
    for (const int id : {1, 2, 1000, 1001, 1002, 1003, 1004, 1005}) {
        QPushButton* button = d.Button(id);
        ASSERT_NE(button, nullptr) << id;
        inOrder << button;
        EXPECT_EQ(button->isVisibleTo(&d), id >= 1000) << id;
        EXPECT_EQ(button->palette().brush(QPalette::Button).color() == QColor(128, 128, 128), id >= 1000)
            << id;
    }
    EXPECT_EQ(d.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly), inOrder);
    EXPECT_TRUE(d.Button(1)->isDefault());
    EXPECT_EQ(d.frameGeometry().size(), QSize(400, 440));
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    EXPECT_EQ(d.focusWidget(), d.Button(1000));

    QTest::mouseClick(d.Button(1002), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.Receiver().FramesDrawn() == 1; }, 5000));
    const QImage at1x = d.grab().toImage();
    EXPECT_EQ(at1x.pixel(80, 50), qRgb(0, 0, 0));           // frame corner
    EXPECT_EQ(at1x.pixel(80 + 240, 50 + 1), qRgb(0, 0, 0)); // the one pixel
    EXPECT_EQ(at1x.pixel(80 + 239, 50 + 1), qRgb(255, 255, 255));
    EXPECT_EQ(at1x.pixel(80 + 241, 50 + 281), qRgb(0, 0, 0));

    const QPoint corner = d.frameGeometry().topLeft();
    QTest::mouseClick(d.Button(1001), Qt::LeftButton);
    EXPECT_EQ(d.Zoomed(), 1);
    EXPECT_EQ(d.Button(1001)->text(), "Zoom Out");
    EXPECT_EQ(d.frameGeometry(), QRect(corner, QSize(640, 720)));
    const QImage at2x = d.grab().toImage();
    for (int dx : {0, 1})
        for (int dy : {0, 1})
            EXPECT_EQ(at2x.pixel(80 + 480 + dx, 50 + 2 + dy), qRgb(0, 0, 0));
    EXPECT_EQ(at2x.pixel(80 + 479, 50 + 2), qRgb(255, 255, 255));
    EXPECT_EQ(at2x.pixel(80 + 483, 50 + 563), qRgb(0, 0, 0));
    EXPECT_EQ(at2x.pixel(80 + 484, 50 + 564), at2x.pixel(600, 700)); // background beyond

    QTest::mouseClick(d.Button(1001), Qt::LeftButton);
    EXPECT_EQ(d.Zoomed(), 0);
    EXPECT_EQ(d.Button(1001)->text(), "Zoom In");
    EXPECT_EQ(d.frameGeometry(), QRect(corner, QSize(400, 440)));

    for (int command : {15, 16, 31, 32, 0xF010, 0xF060}) {
        QString seen;
        bool looked = false;
        QTimer::singleShot(50, [&] {
            if (QWidget* about = QApplication::activeModalWidget()) {
                seen = about->windowTitle();
                about->close();
            }
            looked = true;
        });
        d.ShowAboutBox(command);
        ASSERT_TRUE(QTest::qWaitFor([&] { return looked; }, 5000));
        EXPECT_EQ(seen, command == 16 || command == 31 ? "Quorvex 정보" : "") << command;
    }
}

TEST(CaptureWindow, TicksGoOnBehindAMessageShownFromATick) {
    testsupport::VirtualScopeProcess scope(FastLink());
    capture::DriverTable driver;
    const auto dialog = MakeDialog(driver, nullptr);
    ASSERT_TRUE(dialog->OnInitDialog());
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->move(20, 30); // wherever the window is, its boxes open centred over it
    int boxes = 0;
    bool reopenedWhileOpen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->property("handled").toBool())
            return;
        box->setProperty("handled", true);
        ++boxes;
        EXPECT_EQ(box->text(), "Could not connect to Scope on USB.");
        EXPECT_LE(OffCentre(box, dialog->frameGeometry()), 2);
        scope.Replug();
        reopenedWhileOpen = QTest::qWaitFor([&] { return dialog->State().m_disconnected == 0; }, 3000);
        box->accept();
    });
    poll.start(20);
    scope.Unplug();
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes > 0; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(boxes, 1);
    EXPECT_TRUE(reopenedWhileOpen);
}

// Shown before the window, "USB drivers not installed." opens centred on the screen.
TEST(CaptureWindow, BoxBeforeTheWindowOpensCentredOnTheScreen) {
    capture::DriverTable driver;
    CaptureDialog::Options options;
    options.binding = {"libno-such-driver.so", {SCOPE_BIN_DIR}};
    options.driver = &driver;
    CaptureDialog d(options);
    QString text;
    int offCentre = -1;
    QTimer look;
    look.setSingleShot(true);
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            offCentre = OffCentre(box, box->screen()->availableGeometry());
            box->accept();
        }
    });
    look.start(50);
    EXPECT_FALSE(d.OnInitDialog());
    EXPECT_EQ(text, "USB drivers not installed.");
    EXPECT_TRUE(offCentre >= 0 && offCentre <= 2) << offCentre;
}

// Ctrl+S saves and Ctrl+C copies the picture at the zoom shown, pixel for pixel as
// the window draws it; without a printer, Print and Ctrl+P say so plainly and open
// no print dialog.
TEST(CaptureWindow, KeysSaveCopyAndPrintAndNoPrinterIsSaidPlainly) {
    ASSERT_TRUE(kNoPrinterInstalled);
    testsupport::VirtualScopeProcess scope(FastLink());
    capture::DriverTable driver;
    RecordingPorts messages;
    struct Chooser : capture::FileChooserPort {
        std::optional<QString> ChooseSaveFile(const QString&) override { return ++asked, path; }
        QString path;
        int asked = 0;
    } chooser;
    QTemporaryDir dir;
    chooser.path = dir.filePath("shot.bmp");
    CaptureDialog::Options options;
    options.binding = {capture::DriverTable::kLibraryFileName, {SCOPE_BIN_DIR}};
    options.driver = &driver;
    options.messages = &messages;
    options.chooser = &chooser;
    CaptureDialog d(options);
    ASSERT_TRUE(d.OnInitDialog());
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    d.activateWindow(); // no window manager gives the focus under Xvfb
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    QTest::mouseClick(d.Button(capture::controls::kScreenCapture), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.Receiver().FramesDrawn() == 1; }, 5000));

    int printDialogs = 0;
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (auto* print = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget()))
            ++printDialogs, print->accept();
    });
    guard.start(20);
    QTest::mouseClick(d.Button(capture::controls::kPrint), Qt::LeftButton);
    QTest::keyClick(&d, Qt::Key_P, Qt::ControlModifier);
    const QString noPrinter = "No printer is installed, so the picture cannot be printed.\r\n"
                              "Save (Ctrl+S) writes it to a bitmap file instead.";
    EXPECT_EQ(messages.shown.join(" | ").toStdString(), QStringList(2, noPrinter).join(" | ").toStdString());
    EXPECT_EQ(printDialogs, 0);

    for (const int scale : {1, 2}) {
        if (scale == 2)
            QTest::mouseClick(d.Button(capture::controls::kZoom), Qt::LeftButton);
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(&d, Qt::Key_C, Qt::ControlModifier);
        QTest::keyClick(&d, Qt::Key_S, Qt::ControlModifier);
        EXPECT_EQ(chooser.asked, scale);
        const QRect picture(CaptureDialog::kPictureOrigin + QPoint(scale, scale), QSize(240, 280) * scale);
        const QImage shown = d.grab().toImage().copy(picture).convertToFormat(QImage::Format_RGB32);
        const QImage copied = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(copied == shown) << "the clipboard at " << scale << "x";
        EXPECT_TRUE(QImage(chooser.path).convertToFormat(QImage::Format_RGB32) == shown)
            << "saved at " << scale << "x";
        EXPECT_GT(BlackPixels(shown, shown.rect()), 100 * scale * scale);
    }
}

TEST(Printing, FailedStartIsToldAndAPdfPageHoldsThePictureAtItsPlace) {
    QTemporaryDir dir;
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(72);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Landscape); // printed portrait all the same
    capture::QtPrinterPort port(nullptr, &printer, false);
    RecordingPorts messages;
    capture::ImagePrinter imagePrinter(port, messages);
    capture::ScreenCanvas canvas;
    canvas.CreateCanvas();
    canvas.FillRect({1, 1, 120, 280}, qRgb(0, 0, 0)); // left half of the picture black
    printer.setOutputFileName(dir.filePath("no-such-folder/page.pdf"));
    imagePrinter.PrintImage(canvas);
    EXPECT_EQ(messages.shown, QStringList{"The picture could not be printed: " + printer.outputFileName() +
                                          " could not be written."});

    const QString pdftoppm = QStandardPaths::findExecutable("pdftoppm");
    if (pdftoppm.isEmpty())
        GTEST_SKIP() << "pdftoppm is not installed";
    messages.shown.clear();
    printer.setOutputFileName(dir.filePath("page.pdf"));
    imagePrinter.PrintImage(canvas);
    EXPECT_TRUE(messages.shown.isEmpty());
    const QRect paint = printer.pageLayout().paintRectPixels(72);
    const QRect picture = capture::PrintedPictureRect(paint.width(), paint.height());
    QProcess render;
    render.start(pdftoppm,
                 {"-r", "72", "-png", "-singlefile", dir.filePath("page.pdf"), dir.filePath("page")});
    ASSERT_TRUE(render.waitForFinished(30000));
    const QImage page(dir.filePath("page.png"));
    ASSERT_EQ(page.size(), QSize(595, 842));
    const QPoint origin = paint.topLeft() + picture.topLeft();
    auto gray = [&](int x, int y) { return qGray(page.pixel(origin.x() + x, origin.y() + y)); };
    // Inside the black half, inside the white half, and outside the picture.
    EXPECT_LT(gray(picture.width() / 4, picture.height() / 2), 64);
    EXPECT_GT(gray(picture.width() * 3 / 4, picture.height() / 2), 192);
    EXPECT_GT(gray(-3, picture.height() / 2), 192);
    EXPECT_GT(gray(picture.width() / 4, picture.height() + 3), 192);
    EXPECT_LT(gray(2, 2), 64);
    EXPECT_LT(gray(picture.width() / 2 - 3, picture.height() - 3), 64);
}

namespace {
void Keep(const QImage& shot, const QString& name) {
    ASSERT_TRUE(shot.save(QStringLiteral(SCOPE_SHOT_DIR "/") + name));
    // The README's pictures are refreshed on request only: a test run leaves the checkout alone.
    if (qEnvironmentVariableIsSet("SCOPE_KEEP_SCREENSHOTS")) {
        QDir().mkpath(SCOPE_DOCS_SHOT_DIR);
        EXPECT_TRUE(shot.save(QStringLiteral(SCOPE_DOCS_SHOT_DIR "/") + name));
    }
}
} // namespace

// The live demo at both zooms, kept for the documentation.
TEST(CaptureWindow, LiveDemoAtBothZooms) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    testsupport::VirtualScopeProcess scope({});
    capture::DriverTable driver;
    capture::CaptureDialog::Options options;
    options.binding = {capture::DriverTable::kLibraryFileName, {SCOPE_BIN_DIR}};
    options.driver = &driver;
    capture::CaptureDialog dialog(options);
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.Button(capture::controls::kRealTime), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Receiver().FramesDrawn() >= 5; }, 10000));
    QTest::qWait(100);

    const QImage at1x = dialog.grab().toImage();
    EXPECT_EQ(at1x.size(), QSize(400, 440));
    EXPECT_GT(BlackPixels(at1x, {81, 51, 240, 280}), 100); // the demo picture is there
    Keep(at1x, "quorvex-1x.png");
    QTest::mouseClick(dialog.Button(capture::controls::kZoom), Qt::LeftButton);
    QTest::qWait(200);
    const QImage at2x = dialog.grab().toImage();
    EXPECT_EQ(at2x.size(), QSize(640, 720));
    EXPECT_GT(BlackPixels(at2x, {82, 52, 480, 560}), 400);
    Keep(at2x, "quorvex-2x.png");
    dialog.Receiver().StopCapture();

    // The about box, for a look at its Korean texts (kept in the build tree only).
    capture::AboutDialog about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    EXPECT_TRUE(about.grab().toImage().save(QStringLiteral(SCOPE_SHOT_DIR "/quorvex-about.png")));
}
