// The real window on an X server (run under xvfb-run): screenshots at 1x and 2x of the
// virtual scope's live demo, kept for the documentation.
#include "AboutDialog.h"
#include "CaptureDialog.h"
#include "CaptureRig.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPushButton>
#include <QTest>

using namespace capturetest;

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

TEST(Screenshot, LiveDemoAtBothZooms) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs an X server (xvfb-run); platform is "
                     << QGuiApplication::platformName().toStdString();
    testsupport::VirtualScopeProcess scope({});
    capture::DriverTable driver;
    capture::CaptureDialog::Options options;
    options.binding = {capture::DriverTable::kLibraryFileName, {SCOPE_BIN_DIR}};
    options.driver = &driver;
    capture::CaptureDialog dialog(options);
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.Button(1000), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Receiver().FramesDrawn() >= 5; }, 10000));
    QTest::qWait(100);

    const QImage at1x = dialog.grab().toImage();
    EXPECT_EQ(at1x.size(), QSize(400, 440));
    EXPECT_GT(BlackPixels(at1x, {81, 51, 240, 280}), 100); // the demo picture is there
    Keep(at1x, "quorvex-1x.png");
    QTest::mouseClick(dialog.Button(1001), Qt::LeftButton);
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
