// End to end on a real X display: the real LoaderDialog downloads an image into
// the virtual scope at its default link model; a picture of the window is taken
// half way through the download for the documentation.
#include "FinishDialog.h"
#include "LoaderDialog.h"
#include "LoaderTestFiles.h"
#include "VirtualScopeProcess.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
class AnsweringChooser : public FileChooser {
  public:
    explicit AnsweringChooser(std::string path) : m_path(std::move(path)) {}
    std::optional<std::string> Choose(QWidget*) override {
        ++openings;
        return m_path;
    }
    int openings = 0;

  private:
    std::string m_path;
};
} // namespace

TEST(LoaderOnDisplay, DownloadsIntoTheVirtualScopeAndShowsProgress) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    loadertest::TempFolder folder;
    const std::string flash = folder.Path("flash.bin");
    const std::string imagePath = folder.Path("SCOPE_FW.BIN");
    const auto image = loadertest::Pattern(600000, 11);
    loadertest::WriteBytes(imagePath, image);
    testsupport::VirtualScopeProcess scope({"--firmware", "bootloader", "--flash-file", flash});

    AnsweringChooser chooser(imagePath);
    LoaderDialog dialog(&chooser);
    QImage shot;
    bool finished = false;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QProgressBar* total = dialog.TotalBar();
        if (shot.isNull() && total->maximum() > 0 && total->value() * 2 >= total->maximum())
            shot = dialog.grab().toImage();
        if (auto* done = dynamic_cast<FinishDialog*>(QApplication::activeModalWidget())) {
            finished = true;
            done->findChild<QPushButton*>("finish")->click();
        }
    });
    watch.start();
    QTimer::singleShot(60000, &dialog, [&] { dialog.done(QDialog::Accepted); }); // a hang, not a timing goal
    const int result = dialog.exec();

    EXPECT_TRUE(finished);
    EXPECT_EQ(result, QDialog::Rejected) << "Finish ends the window with Cancel";
    EXPECT_EQ(chooser.openings, 1);
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(294) * 2048, 0xFF);
    std::copy(image.begin(), image.end(), expected.begin());
    const auto written = loadertest::ReadBytes(flash);
    ASSERT_GE(written.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin()));

    ASSERT_FALSE(shot.isNull());
    const QString inBuild = QStringLiteral(LOADER_SCREENSHOT_DIR "/haldrin-download.png");
    EXPECT_TRUE(shot.save(inBuild));
    QDir().mkpath(QStringLiteral(LOADER_DOCS_SCREENSHOT_DIR));
    const QString inDocs = QStringLiteral(LOADER_DOCS_SCREENSHOT_DIR "/haldrin-download.png");
    QFile::remove(inDocs);
    EXPECT_TRUE(QFile::copy(inBuild, inDocs));
}
