// The bitmap files: exact bytes, names, the overwrite question for an appended
// ".bmp", failures told to the user, and independent readers agreeing pixel for pixel.
#include "BitmapWriter.h"
#include "CaptureRig.h"
#include "ImageSaver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdint>

using namespace capturetest;
using capture::ImageSaver;

namespace {

std::uint32_t U32(const QByteArray& b, int offset) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(b[offset + i]);
    return v;
}

std::uint16_t U16(const QByteArray& b, int offset) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[offset]) |
                                      (static_cast<std::uint8_t>(b[offset + 1]) << 8));
}

// A canvas with a picture that shows any mirroring or offset: an L of black pixels.
capture::ScreenCanvas MarkedCanvas() {
    capture::ScreenCanvas canvas;
    canvas.CreateCanvas();
    canvas.SetPixel(1, 280, qRgb(0, 0, 0)); // bottom-left of the picture
    canvas.SetPixel(240, 1, qRgb(0, 0, 0)); // top-right
    canvas.SetPixel(2, 280, qRgb(0, 0, 0));
    canvas.SetPixel(1, 279, qRgb(0, 0, 0));
    return canvas;
}

struct FixedChooser : capture::FileChooserPort {
    std::optional<QString> path;
    int asked = 0;
    std::optional<QString> ChooseSaveFile(const QString& filter) override {
        ++asked;
        EXPECT_EQ(filter, "bmp File (*.bmp)");
        return path;
    }
};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(BitmapFileName, ExtensionRule) {
    EXPECT_EQ(ImageSaver::BitmapFileName("/a/scope.bmp"), "/a/scope.bmp");
    EXPECT_EQ(ImageSaver::BitmapFileName("/a/scope.BMP"), "/a/scope.BMP");
    EXPECT_EQ(ImageSaver::BitmapFileName("/a/scope.Bmp"), "/a/scope.Bmp");
    EXPECT_EQ(ImageSaver::BitmapFileName("/a/scope"), "/a/scope.bmp");
    EXPECT_EQ(ImageSaver::BitmapFileName("/a/scope.bm"), "/a/scope.bm.bmp");
    EXPECT_EQ(ImageSaver::BitmapFileName("/a/scope.txt"), "/a/scope.txt.bmp");
    EXPECT_EQ(ImageSaver::BitmapFileName("bmp"), "bmp.bmp");
}

TEST(BitmapWriter, HeaderAndRowsAtBothZooms) {
    const capture::ScreenCanvas canvas = MarkedCanvas();
    struct Case {
        int zoomed, width, height;
        std::uint32_t imageSize, fileSize;
    };
    for (const Case c : {Case{0, 240, 280, 268800, 268854}, Case{1, 480, 560, 1075200, 1075254}}) {
        const QImage picture = ImageSaver::SavedPicture(canvas, c.zoomed);
        const QByteArray b = capture::BitmapFileBytes(picture, {0, 0, c.width, c.height}, 32);
        ASSERT_EQ(static_cast<std::uint32_t>(b.size()), c.fileSize);
        EXPECT_EQ(b.left(2), "BM");
        EXPECT_EQ(U32(b, 2), c.fileSize);
        EXPECT_EQ(U32(b, 6), 0u);
        EXPECT_EQ(U32(b, 10), 54u);
        EXPECT_EQ(U32(b, 14), 40u);
        EXPECT_EQ(U32(b, 18), static_cast<std::uint32_t>(c.width));
        EXPECT_EQ(U32(b, 22), static_cast<std::uint32_t>(c.height));
        EXPECT_EQ(U16(b, 26), 1);
        EXPECT_EQ(U16(b, 28), 32);
        EXPECT_EQ(U32(b, 30), 0u);
        EXPECT_EQ(U32(b, 34), c.imageSize);
        for (int offset : {38, 42, 46, 50})
            EXPECT_EQ(U32(b, offset), 0u);
        // Bottom row first: the picture's bottom-left pixel is black, then white ones.
        EXPECT_EQ(U32(b, 54), 0u);
        const int whiteAt = c.zoomed ? 54 + 4 * 4 : 54 + 2 * 4;
        EXPECT_EQ(U32(b, whiteAt), 0x00FFFFFFu);
        // Every pixel is exactly white or black with a zero fourth byte.
        for (int i = 54; i < b.size(); i += 4) {
            const std::uint32_t v = U32(b, i);
            ASSERT_TRUE(v == 0u || v == 0x00FFFFFFu) << "offset " << i;
        }
    }
}

TEST(BitmapWriter, CanvasAreaWithoutTheFrame) {
    const capture::ScreenCanvas canvas = MarkedCanvas();
    const QByteArray direct = capture::BitmapFileBytes(canvas.Image(), {1, 1, 241, 281}, 32);
    const QByteArray viaPicture =
        capture::BitmapFileBytes(ImageSaver::SavedPicture(canvas, 0), {0, 0, 240, 280}, 32);
    EXPECT_EQ(direct, viaPicture);
    EXPECT_TRUE(capture::BitmapFileBytes(canvas.Image(), {0, 0, 481, 10}, 32).isEmpty());
    EXPECT_TRUE(capture::BitmapFileBytes(canvas.Image(), {5, 5, 5, 10}, 32).isEmpty());
}

class SaveImageTest : public testing::Test {
  protected:
    QTemporaryDir dir;
    FixedChooser chooser;
    RecordingMessages messages;
    capture::ScreenCanvas canvas = MarkedCanvas();
    ImageSaver saver{chooser, messages};
    QString In(const QString& name) const { return dir.filePath(name); }
};

TEST_F(SaveImageTest, FilesReadBackPixelForPixel) {
    for (int zoomed : {0, 1}) {
        chooser.path = In(QStringLiteral("zoom%1").arg(zoomed));
        saver.SaveImage(canvas, zoomed);
        const QString written = *chooser.path + ".bmp";
        const QImage expected = ImageSaver::SavedPicture(canvas, zoomed);
        EXPECT_EQ(ReadAll(written).size(), zoomed ? 1075254 : 268854);
        QImage read(written);
        ASSERT_FALSE(read.isNull());
        ASSERT_EQ(read.size(), expected.size());
        for (int y = 0; y < read.height(); ++y)
            for (int x = 0; x < read.width(); ++x)
                ASSERT_EQ(read.pixel(x, y) & 0xFFFFFF, expected.pixel(x, y) & 0xFFFFFF) << x << "," << y;
        if (zoomed) {
            EXPECT_EQ(read.pixel(2, 558), qRgb(0, 0, 0)); // canvas (2, 280) -> (2..3, 558..559)
        }
    }
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(SaveImageTest, ImageMagickAgrees) {
    const QString identify = QStandardPaths::findExecutable("identify");
    const QString convert = QStandardPaths::findExecutable("convert");
    if (identify.isEmpty() || convert.isEmpty())
        GTEST_SKIP() << "ImageMagick is not installed";
    chooser.path = In("magick.bmp");
    saver.SaveImage(canvas, 0);
    QProcess process;
    process.start(identify, {"-format", "%w %h", *chooser.path});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.readAllStandardOutput().trimmed(), "240 280");
    // Its own decoding, as plain text pixels: only the four marked ones are black.
    process.start(convert, {*chooser.path, "-depth", "8", "gray:-"});
    ASSERT_TRUE(process.waitForFinished(20000));
    const QByteArray gray = process.readAllStandardOutput();
    ASSERT_EQ(gray.size(), 240 * 280);
    auto at = [&](int x, int y) { return static_cast<std::uint8_t>(gray[(y - 1) * 240 + (x - 1)]); };
    EXPECT_EQ(at(1, 280), 0);
    EXPECT_EQ(at(240, 1), 0);
    EXPECT_EQ(at(2, 280), 0);
    EXPECT_EQ(at(1, 279), 0);
    EXPECT_EQ(gray.count('\0'), 4);
}

TEST_F(SaveImageTest, AppendedNameIsAskedAboutBeforeItIsReplaced) {
    QFile existing(In("kept.bmp"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("precious");
    existing.close();
    chooser.path = In("kept");
    messages.answerYes = false;
    saver.SaveImage(canvas, 0);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].contains("kept.bmp already exists."));
    EXPECT_EQ(ReadAll(In("kept.bmp")), "precious");

    messages.answerYes = true;
    saver.SaveImage(canvas, 0);
    EXPECT_EQ(ReadAll(In("kept.bmp")).size(), 268854);

    // The name as chosen was already asked about by the dialog.
    messages.shown.clear();
    chooser.path = In("kept.bmp");
    saver.SaveImage(canvas, 1);
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_EQ(ReadAll(In("kept.bmp")).size(), 1075254);
}

TEST_F(SaveImageTest, FailureIsToldAndLeavesNoFile) {
    chooser.path = In("missing-folder/scope.bmp");
    saver.SaveImage(canvas, 0);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("The picture could not be saved to " +
                                             QDir::toNativeSeparators(*chooser.path) + ":\r\n"))
        << messages.shown[0].toStdString();
    EXPECT_FALSE(QFile::exists(*chooser.path));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

TEST_F(SaveImageTest, CancelWritesNothing) {
    chooser.path.reset();
    saver.SaveImage(canvas, 0);
    EXPECT_EQ(chooser.asked, 1);
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}
