// The capture window driven headless: layout, zoom, about rule, the missing-driver
// path, painting at 1x and 2x, and a print to PDF rendered back to pixels.
#include "CaptureDialog.h"
#include "CaptureRig.h"
#include "DialogUnits.h"
#include "PrintLayout.h"
#include "QtPrinterPort.h"
#include "VirtualScopeProcess.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

using namespace capturetest;
using capture::CaptureDialog;

namespace {

struct WindowRig {
    explicit WindowRig(const std::string& libraryDir = BinDirectory(),
                       const std::string& fileName = capture::DriverTable::kLibraryFileName) {
        options.binding = {fileName, {libraryDir}};
        options.driver = &driver;
        options.messages = &messages;
        dialog = std::make_unique<CaptureDialog>(options);
    }
    bool Init() { return dialog->OnInitDialog(); }
    bool Spin(const std::function<bool()>& done, int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < timeoutMs)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    }
    capture::DriverTable driver;
    RecordingMessages messages;
    CaptureDialog::Options options;
    std::unique_ptr<CaptureDialog> dialog;
};

} // namespace

TEST(CaptureWindow, LayoutTextsAndColours) {
    testsupport::VirtualScopeProcess scope({"--throughput", "0", "--latency-ms", "0"});
    WindowRig rig;
    ASSERT_TRUE(rig.Init());
    CaptureDialog& d = *rig.dialog;
    EXPECT_EQ(d.windowTitle(), "Quorvex Ver 1.2");
    const layout::DialogUnits du(layout::DialogFont("굴림", 9));
    struct Control {
        int id;
        const char* text;
        int x;
        bool visible;
    };
    for (const Control c : {Control{1, "확인", 205, false}, Control{2, "취소", 241, false},
                            Control{1000, "Real Time", 76, true}, Control{1001, "Zoom In", 0, true},
                            Control{1002, "Screen Capture", 38, true}, Control{1003, "Stop", 114, true},
                            Control{1004, "Print", 152, true}, Control{1005, "Save", 190, true}}) {
        QPushButton* button = d.Button(c.id);
        ASSERT_NE(button, nullptr) << c.id;
        EXPECT_EQ(button->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(button->isVisibleTo(&d), c.visible) << c.id;
        if (c.id >= 1000) {
            EXPECT_EQ(button->geometry(), du.Rect(c.x, 0, 37, 22)) << c.id;
            EXPECT_EQ(button->palette().brush(QPalette::Button).color(), QColor(128, 128, 128));
        } else {
            EXPECT_EQ(button->geometry(), du.Rect(c.x, 202, 50, 14));
        }
    }
    EXPECT_EQ(capture::ControlColors(1, QBrush(Qt::red)).color(), QColor(Qt::red));
    EXPECT_EQ(capture::ControlColors(1006, QBrush(Qt::red)).color(), QColor(Qt::red));
    EXPECT_TRUE(d.Button(1)->isDefault());
    EXPECT_EQ(d.frameGeometry().size(), QSize(400, 440));
    d.show();
    EXPECT_EQ(d.focusWidget(), d.Button(1000));
}

TEST(CaptureWindow, ZoomGrowsFromTheSameCornerAndShowsTwoByTwoBlocks) {
    testsupport::VirtualScopeProcess scope(
        {"--throughput", "0", "--latency-ms", "0", "--picture", "pattern:first-pixel"});
    WindowRig rig;
    ASSERT_TRUE(rig.Init());
    CaptureDialog& d = *rig.dialog;
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    QTest::mouseClick(d.Button(1002), Qt::LeftButton);
    ASSERT_TRUE(rig.Spin([&] { return d.Receiver().FramesDrawn() == 1; }));

    const QImage at1x = d.grab().toImage();
    EXPECT_EQ(at1x.pixel(80, 50), qRgb(0, 0, 0));           // frame corner
    EXPECT_EQ(at1x.pixel(80 + 240, 50 + 1), qRgb(0, 0, 0)); // the one pixel
    EXPECT_EQ(at1x.pixel(80 + 239, 50 + 1), qRgb(255, 255, 255));
    EXPECT_EQ(at1x.pixel(80 + 241, 50 + 281), qRgb(0, 0, 0));

    const QPoint corner = d.frameGeometry().topLeft();
    QTest::mouseClick(d.Button(1001), Qt::LeftButton);
    EXPECT_EQ(d.Zoomed(), 1);
    EXPECT_EQ(d.Button(1001)->text(), "Zoom Out");
    EXPECT_EQ(d.frameGeometry().size(), QSize(640, 720));
    EXPECT_EQ(d.frameGeometry().topLeft(), corner);
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

    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
}

TEST(CaptureWindow, AboutBoxOnlyForItsIdentifiers) {
    WindowRig rig(SubstituteDirectory("complete"));
    ASSERT_TRUE(rig.Init());
    int opened = 0;
    for (int command : {16, 31, 32, 0xF060, 0xF010, 15}) {
        bool seen = false;
        QTimer::singleShot(50, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* about = qobject_cast<QDialog*>(w);
                    about && about != rig.dialog.get() && about->isVisible()) {
                    seen = true;
                    EXPECT_EQ(about->windowTitle(), "Quorvex 정보");
                    about->accept();
                }
        });
        rig.dialog->ShowAboutBox(command);
        QTest::qWait(80);
        opened += seen;
        EXPECT_EQ(seen, command == 16 || command == 31) << command;
    }
    EXPECT_EQ(opened, 2);
}

TEST(CaptureWindow, MissingDriverEndsBeforeTheWindowIsShown) {
    const std::filesystem::path empty = std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / "none";
    std::filesystem::create_directories(empty);
    WindowRig rig(empty.string(), "libftd2xx-absent.so");
    testing::internal::CaptureStderr();
    const int result = rig.dialog->Run();
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(rig.messages.shown, QStringList{"USB drivers not installed."});
    EXPECT_NE(diagnostics.find("FTD2XX.dll Load Error : "), std::string::npos);
    EXPECT_FALSE(rig.dialog->isVisible());
    EXPECT_FALSE(rig.dialog->Canvas().IsCreated());
}

TEST(CaptureWindow, TicksGoOnBehindAMessageShownFromATick) {
    testsupport::VirtualScopeProcess scope({"--throughput", "0", "--latency-ms", "0"});
    capture::DriverTable driver;
    CaptureDialog::Options options;
    options.binding = {capture::DriverTable::kLibraryFileName, {BinDirectory()}};
    options.driver = &driver;
    CaptureDialog dialog(options); // real message boxes
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    bool reopenedWhileOpen = false;
    int boxes = 0;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible() || box->property("handled").toBool())
                continue;
            box->setProperty("handled", true);
            ++boxes;
            EXPECT_EQ(box->text(), "Could not connect to Scope on USB.");
            scope.Replug();
            QElapsedTimer wait;
            wait.start();
            while (dialog.State().m_disconnected != 0 && wait.elapsed() < 3000)
                QApplication::processEvents(QEventLoop::AllEvents, 5);
            reopenedWhileOpen = dialog.State().m_disconnected == 0;
            box->accept();
        }
    });
    poll.start();
    scope.Unplug();
    QElapsedTimer wait;
    wait.start();
    while (boxes == 0 && wait.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    QTest::qWait(100);
    EXPECT_EQ(boxes, 1);
    EXPECT_TRUE(reopenedWhileOpen);
}

TEST(Printing, PdfPageHoldsThePictureAtItsPlace) {
    const QString pdftoppm = QStandardPaths::findExecutable("pdftoppm");
    if (pdftoppm.isEmpty())
        GTEST_SKIP() << "pdftoppm is not installed";
    QTemporaryDir dir;
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("page.pdf"));
    printer.setResolution(72);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Landscape); // printed portrait all the same
    capture::QtPrinterPort port(nullptr, &printer, false);
    RecordingMessages messages;
    capture::ImagePrinter imagePrinter(port, messages);

    capture::ScreenCanvas canvas;
    canvas.CreateCanvas();
    canvas.FillRect({1, 1, 120, 280}, qRgb(0, 0, 0)); // left half of the picture black
    imagePrinter.PrintImage(canvas);
    EXPECT_TRUE(messages.shown.isEmpty());

    const QRect paint = printer.pageLayout().paintRectPixels(72);
    const QRect picture = capture::PrintedPictureRect(paint.width(), paint.height());
    EXPECT_LT(paint.width(), paint.height());

    QProcess render;
    render.start(pdftoppm,
                 {"-r", "72", "-png", "-singlefile", dir.filePath("page.pdf"), dir.filePath("page")});
    ASSERT_TRUE(render.waitForFinished(30000));
    const QImage page(dir.filePath("page.png"));
    ASSERT_FALSE(page.isNull());
    EXPECT_EQ(page.size(), QSize(595, 842));
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

TEST(Printing, PrinterThatCannotStartIsTold) {
    QTemporaryDir dir;
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("no-such-folder/page.pdf"));
    capture::QtPrinterPort port(nullptr, &printer, false);
    RecordingMessages messages;
    capture::ImagePrinter imagePrinter(port, messages);
    capture::ScreenCanvas canvas;
    canvas.CreateCanvas();
    imagePrinter.PrintImage(canvas);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("The picture could not be printed: "))
        << messages.shown[0].toStdString();
}
