// The capture window driven headless: layout, zoom and painting, the about rule, message
// boxes shown from a tick, and printing to PDF.
#include "CaptureDialog.h"
#include "CaptureRig.h"
#include "DialogUnits.h"
#include "PrintLayout.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace capturetest;
using capture::CaptureDialog;

namespace {

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
    const layout::DialogUnits du(layout::DialogFont("굴림", 9));
    struct Control {
        int id;
        const char* text;
        int x;
    };
    QList<QPushButton*> inOrder;
    // In tab order; OK and Cancel are there for the keyboard only.
    for (const Control c :
         {Control{1, "확인", 205}, Control{2, "취소", 241}, Control{1000, "Real Time", 76},
          Control{1001, "Zoom In", 0}, Control{1002, "Screen Capture", 38}, Control{1003, "Stop", 114},
          Control{1004, "Print", 152}, Control{1005, "Save", 190}}) {
        QPushButton* button = d.Button(c.id);
        ASSERT_NE(button, nullptr) << c.id;
        inOrder << button;
        const bool command = c.id >= 1000;
        EXPECT_EQ(button->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(button->isVisibleTo(&d), command) << c.id;
        EXPECT_EQ(button->geometry(), command ? du.Rect(c.x, 0, 37, 22) : du.Rect(c.x, 202, 50, 14)) << c.id;
        EXPECT_EQ(button->palette().brush(QPalette::Button).color() == QColor(128, 128, 128), command)
            << c.id;
    }
    EXPECT_EQ(d.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly), inOrder);
    for (int id : {1, 2, 999, 1000, 1001, 1002, 1003, 1004, 1005, 1006})
        EXPECT_EQ(capture::ControlColors(id, QBrush(Qt::red)).color(),
                  id >= 1000 && id <= 1005 ? QColor(128, 128, 128) : QColor(Qt::red))
            << id;
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
