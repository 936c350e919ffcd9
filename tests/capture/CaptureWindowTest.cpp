// The capture window on an X display (run under xvfb-run): layout, buttons, zoom and painting against the
// live demo, the keys beside the buttons, the about rule, message boxes and where they open, printing without
// a printer and to PDF; and the pictures of the live demo for the documentation.
#include "CaptureControls.h"
#include "CaptureDialog.h"
#include "CaptureRig.h"
#include "PrintLayout.h"

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
using namespace capture::controls;
using capture::CaptureDialog;

namespace {

// A machine without a printer: the print system asks a server that is not there
// (set before the application starts, so before the print system reads it).
const bool kNoPrinterInstalled = setenv("CUPS_SERVER", "/nonexistent/cups.sock", 1) == 0;

const capture::CaptureLink::Binding kBinding{.searchDirs = {SCOPE_BIN_DIR}};

// Where a box opens: its centre's distance from the centre of the area it is meant for.
int OffCentre(const QWidget* box, const QRect& area) {
    return (box->frameGeometry().center() - area.center()).manhattanLength();
}

// Runs look every ms, while the timer returned lives, on the modal box of that type shown then.
template <class Box> std::unique_ptr<QTimer> WhileShown(int ms, std::function<void(Box*)> look) {
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [look] {
        if (auto* box = qobject_cast<Box*>(QApplication::activeModalWidget()))
            look(box);
    });
    timer->start(ms);
    return timer;
}

// Real Time, Stop and Screen Capture; at both zooms Ctrl+S saves and Ctrl+C copies the
// picture pixel for pixel as the window draws it; without a printer, Print and Ctrl+P say
// so plainly and open no print dialog. The live demo's pictures are kept for the README.
TEST(CaptureWindow, ButtonsKeysAndZoomAgainstTheLiveDemo) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    ASSERT_TRUE(kNoPrinterInstalled);
    testsupport::VirtualScopeProcess scope({});
    capture::DriverTable driver;
    RecordingPorts messages;
    QTemporaryDir dir;
    messages.savePath = dir.filePath("shot.bmp");
    CaptureDialog d({kBinding, &driver, &messages, &messages});
    ASSERT_TRUE(d.OnInitDialog());
    EXPECT_EQ(d.windowTitle(), "Quorvex Ver 1.2");
    // In tab order; OK and Cancel are there for the keyboard only.
    QList<QPushButton*> inOrder;
    for (const int id : {kOk, kCancel, kRealTime, kZoom, kScreenCapture, kStop, kPrint, kSave}) {
        ASSERT_NE(d.Button(id), nullptr) << id;
        inOrder << d.Button(id);
        EXPECT_EQ(d.Button(id)->isVisibleTo(&d), id >= 1000) << id;
        EXPECT_EQ(d.Button(id)->palette().brush(QPalette::Button).color() == QColor(128, 128, 128),
                  id >= 1000);
    }
    EXPECT_EQ(d.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly), inOrder);
    EXPECT_TRUE(d.Button(kOk)->isDefault());
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    EXPECT_EQ(d.focusWidget(), d.Button(kRealTime));
    d.activateWindow(); // no window manager gives the focus under Xvfb
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    QTest::mouseClick(d.Button(kRealTime), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.Receiver().FramesDrawn() >= 3; }, 5000));
    QTest::mouseClick(d.Button(kStop), Qt::LeftButton);
    QTest::qWait(100); // the frame in flight is still drawn
    const unsigned streamed = d.Receiver().FramesDrawn();
    QTest::mouseClick(d.Button(kScreenCapture), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.Receiver().FramesDrawn() == streamed + 1; }, 5000));

    int printDialogs = 0;
    const auto guard =
        WhileShown<QPrintDialog>(20, [&](QPrintDialog* print) { ++printDialogs, print->accept(); });
    QTest::mouseClick(d.Button(kPrint), Qt::LeftButton);
    QTest::keyClick(&d, Qt::Key_P, Qt::ControlModifier);
    const QString noPrinter = "No printer is installed, so the picture cannot be printed.\r\n"
                              "Save (Ctrl+S) writes it to a bitmap file instead.";
    EXPECT_EQ(messages.shown, QStringList(2, noPrinter));
    EXPECT_EQ(printDialogs, 0);

    // Zoom keeps the window's top-left corner; the picture's frame ends where the background starts.
    const QPoint corner = d.frameGeometry().topLeft(), origin = CaptureDialog::kPictureOrigin;
    for (const int scale : {1, 2}) {
        if (scale == 2)
            QTest::mouseClick(d.Button(kZoom), Qt::LeftButton);
        EXPECT_EQ(d.Zoomed(), scale - 1);
        EXPECT_EQ(d.Button(kZoom)->text(), scale == 1 ? "Zoom In" : "Zoom Out");
        EXPECT_EQ(d.frameGeometry(), QRect(corner, QSize(400, 440) + (scale - 1) * QSize(240, 280)));
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(&d, Qt::Key_C, Qt::ControlModifier);
        QTest::keyClick(&d, Qt::Key_S, Qt::ControlModifier);
        EXPECT_EQ(messages.saveDialogs, scale);
        const QImage window = d.grab().toImage();
        const QPoint far = origin + QPoint(242, 282) * scale - QPoint(1, 1);
        EXPECT_EQ(std::tuple(window.pixel(origin), window.pixel(far), window.pixel(far + QPoint(1, 1))),
                  std::tuple(qRgb(0, 0, 0), qRgb(0, 0, 0), window.pixel(origin - QPoint(1, 1))));
        const QRect picture(origin + QPoint(scale, scale), QSize(240, 280) * scale);
        const QImage shown = window.copy(picture).convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32) == shown)
            << scale;
        EXPECT_TRUE(QImage(*messages.savePath).convertToFormat(QImage::Format_RGB32) == shown) << scale;
        EXPECT_GT(BlackPixels(shown), 100 * scale * scale); // the demo picture is there
        const QString name = QStringLiteral("/quorvex-%1x.png").arg(scale);
        ASSERT_TRUE(window.save(SCOPE_SHOT_DIR + name));
        // The README's pictures are refreshed on request only: a test run leaves the checkout alone.
        EXPECT_TRUE(!qEnvironmentVariableIsSet("SCOPE_KEEP_SCREENSHOTS") ||
                    (QDir().mkpath(SCOPE_DOCS_SHOT_DIR) && window.save(SCOPE_DOCS_SHOT_DIR + name)));
    }
    QTest::mouseClick(d.Button(kZoom), Qt::LeftButton);
    EXPECT_EQ(d.frameGeometry(), QRect(corner, QSize(400, 440)));

    // Only the about commands open the about box; a look at its Korean texts is kept in the build tree.
    for (const int command : {15, 16, 31, 32, 0xF010, 0xF060}) {
        QString seen;
        const auto look = WhileShown<QWidget>(50, [&](QWidget* about) {
            seen = about->windowTitle();
            EXPECT_TRUE(about->grab().toImage().save(QStringLiteral(SCOPE_SHOT_DIR "/quorvex-about.png")));
            about->close();
        });
        d.ShowAboutBox(command);
        QTest::qWait(100);
        EXPECT_EQ(seen, command == 16 || command == 31 ? "Quorvex 정보" : "") << command;
    }
}

TEST(CaptureWindow, TicksGoOnBehindAMessageShownFromATick) {
    testsupport::VirtualScopeProcess scope(kFastLink);
    capture::DriverTable driver;
    CaptureDialog d({kBinding, &driver}); // the real message boxes
    ASSERT_TRUE(d.OnInitDialog());
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    d.move(20, 30); // wherever the window is, its boxes open centred over it
    int boxes = 0;
    bool reopenedWhileOpen = false;
    const auto poll = WhileShown<QMessageBox>(20, [&](QMessageBox* box) {
        if (box->property("handled").toBool())
            return;
        box->setProperty("handled", true);
        ++boxes;
        EXPECT_EQ(box->text(), "Could not connect to Scope on USB.");
        EXPECT_LE(OffCentre(box, d.frameGeometry()), 2);
        scope.Replug();
        reopenedWhileOpen = QTest::qWaitFor([&] { return d.State().m_disconnected == 0; }, 3000);
        box->accept();
    });
    scope.Unplug();
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes > 0; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(boxes, 1);
    EXPECT_TRUE(reopenedWhileOpen);
}

// Shown before the window, "USB drivers not installed." opens centred on the screen.
TEST(CaptureWindow, BoxBeforeTheWindowOpensCentredOnTheScreen) {
    capture::DriverTable driver;
    CaptureDialog d({.binding = {"libno-such-driver.so", {SCOPE_BIN_DIR}}, .driver = &driver});
    bool shown = false;
    const auto poll = WhileShown<QMessageBox>(50, [&](QMessageBox* box) {
        shown = true;
        EXPECT_EQ(box->text(), "USB drivers not installed.");
        EXPECT_LE(OffCentre(box, box->screen()->availableGeometry()), 2);
        box->accept();
    });
    EXPECT_FALSE(d.OnInitDialog());
    EXPECT_TRUE(shown);
}

// A print that cannot start is told; a PDF page holds the picture at its place, read back
// by poppler's renderer.
TEST(Printing, FailedStartIsToldAndAPdfPageHoldsThePictureAtItsPlace) {
    const QString pdftoppm = QStandardPaths::findExecutable("pdftoppm");
    ASSERT_FALSE(pdftoppm.isEmpty()) << "pdftoppm (poppler-utils) is not installed";
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
    const QPoint at = paint.topLeft() + picture.topLeft();
    auto gray = [&](int x, int y) { return qGray(page.pixel(at.x() + x, at.y() + y)); };
    const int w = picture.width(), h = picture.height();
    // Black inside the black half and at its corners; white inside the white half and outside the picture.
    EXPECT_TRUE(gray(w / 4, h / 2) < 64 && gray(2, 2) < 64 && gray(w / 2 - 3, h - 3) < 64);
    EXPECT_TRUE(gray(w * 3 / 4, h / 2) > 192 && gray(-3, h / 2) > 192 && gray(w / 4, h + 3) > 192);
}

} // namespace
