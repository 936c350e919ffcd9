// End to end on a real X display: the real LoaderDialog downloads an image into
// the virtual scope at its default link model; a picture of the window is taken
// half way through the download for the documentation.
#include "FinishDialog.h"
#include "LoaderDialog.h"
#include "LoaderTestKit.h"

#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {
struct AnsweringChooser : FileChooser {
    std::optional<std::string> Choose(QWidget*) override { return ++openings, path; }
    std::string path;
    int openings = 0;
};
} // namespace

TEST(LoaderOnDisplay, DownloadsIntoTheVirtualScopeAndShowsProgress) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    loadertest::TempFolder folder;
    const std::string flash = folder.Path("flash.bin");
    AnsweringChooser chooser;
    chooser.path = folder.Path("SCOPE_FW.BIN");
    const auto image = loadertest::Pattern(600000, 11);
    loadertest::WriteBytes(chooser.path, image);
    testsupport::VirtualScopeProcess scope({"--firmware", "bootloader", "--flash-file", flash});

    LoaderDialog dialog(&chooser);
    QImage shot;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QProgressBar* total = dialog.TotalBar();
        if (shot.isNull() && total->maximum() > 0 && total->value() * 2 >= total->maximum())
            shot = dialog.grab().toImage();
        if (auto* done = dynamic_cast<FinishDialog*>(QApplication::activeModalWidget()))
            done->findChild<QPushButton*>("finish")->click();
    });
    watch.start(10);
    QTimer::singleShot(60000, &dialog, [&] { dialog.done(QDialog::Accepted); }); // a hang, not a timing goal
    EXPECT_EQ(dialog.exec(), QDialog::Rejected) << "only Finish ends the window with Cancel";
    EXPECT_EQ(chooser.openings, 1);
    loadertest::Bytes expected(294 * 2048, 0xFF);
    std::copy(image.begin(), image.end(), expected.begin());
    const auto written = loadertest::ReadBytes(flash);
    ASSERT_GE(written.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin()));

    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QStringLiteral(LOADER_SCREENSHOT_DIR "/haldrin-download.png")));
    // The README's picture is refreshed on request only: a test run leaves the checkout alone.
    if (qEnvironmentVariableIsSet("SCOPE_KEEP_SCREENSHOTS")) {
        QDir().mkpath(QStringLiteral(LOADER_DOCS_SCREENSHOT_DIR));
        EXPECT_TRUE(shot.save(QStringLiteral(LOADER_DOCS_SCREENSHOT_DIR "/haldrin-download.png")));
    }
}
