// The bitmap files: exact bytes, names, the overwrite question for an appended ".bmp",
// failures, independent readers agreeing pixel for pixel; and the printed picture's size.
#include "CaptureRig.h"
#include "ImageSaver.h"
#include "PrintLayout.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace capturetest;
using capture::ImageSaver;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class SaveImage : public testing::Test, public capture::FileChooserPort {
  protected:
    // An L of black pixels in the corner and one far from it: shows any mirroring or offset.
    void SetUp() override {
        canvas.CreateCanvas();
        for (const QPoint p : {QPoint(1, 280), QPoint(2, 280), QPoint(1, 279), QPoint(240, 1)})
            canvas.SetPixel(p.x(), p.y(), qRgb(0, 0, 0));
    }
    std::optional<QString> ChooseSaveFile(const QString& filter) override {
        EXPECT_EQ(filter, "bmp File (*.bmp)");
        return path;
    }
    bool IsBlack(int x, int y, int scale) const {
        return canvas.Image().pixel(1 + x / scale, 1 + y / scale) == qRgb(0, 0, 0);
    }
    QTemporaryDir dir;
    std::optional<QString> path;
    RecordingPorts messages;
    capture::ScreenCanvas canvas;
    ImageSaver saver{*this, messages};
};

} // namespace

TEST(BitmapFileName, ExtensionRule) {
    for (const char* kept : {"/a/scope.bmp", "/a/scope.BMP", "/a/scope.Bmp"})
        EXPECT_EQ(ImageSaver::BitmapFileName(kept), kept);
    for (const char* extended : {"/a/scope", "/a/scope.bm", "/a/scope.txt", "bmp"})
        EXPECT_EQ(ImageSaver::BitmapFileName(extended), QString(extended) + ".bmp");
}

// Every byte of the file at 1x and 2x, built here independently: bottom row first, each
// pixel blue, green, red, 0, and at 2x each picture pixel a 2 x 2 block.
TEST_F(SaveImage, FilesHoldExactBytesAndReadBackPixelForPixel) {
    const QString convert = QStandardPaths::findExecutable("convert");
    struct Case {
        qint32 zoomed, width, height;
        quint32 fileSize;
    };
    for (const Case c : {Case{0, 240, 280, 268854}, Case{1, 480, 560, 1075254}}) {
        path = dir.filePath(QStringLiteral("zoom%1").arg(c.zoomed));
        saver.SaveImage(canvas, c.zoomed);
        const QString written = *path + ".bmp";
        const int scale = c.zoomed + 1;
        QByteArray expected;
        QDataStream out(&expected, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        out.writeRawData("BM", 2);
        // File size, reserved, pixel offset, header size, width, height, planes, bits per pixel,
        // no compression, pixel bytes, then resolution and colour counts all 0.
        out << c.fileSize << 0u << 54u << 40u << c.width << c.height << quint16(1) << quint16(32) << 0u
            << c.fileSize - 54 << 0u << 0u << 0u << 0u;
        for (int y = c.height - 1; y >= 0; --y)
            for (int x = 0; x < c.width; ++x)
                out << (IsBlack(x, y, scale) ? 0u : 0x00FFFFFFu);
        const QByteArray bytes = ReadAll(written);
        ASSERT_EQ(static_cast<std::uint32_t>(bytes.size()), c.fileSize);
        EXPECT_EQ(bytes.mid(54, 4), QByteArray(4, '\0')); // the picture's bottom-left pixel
        EXPECT_TRUE(bytes == expected) << "zoom " << scale;

        // Independent readers, as gray levels row by row from the top: Qt's, and ImageMagick's
        // where it is installed.
        const QImage read = QImage(written).convertToFormat(QImage::Format_Grayscale8);
        QByteArrayList readings{
            QByteArray(reinterpret_cast<const char*>(read.constBits()), read.sizeInBytes())};
        if (!convert.isEmpty()) {
            QProcess process;
            process.start(convert, {written, "-depth", "8", "gray:-"});
            ASSERT_TRUE(process.waitForFinished(20000));
            readings << process.readAllStandardOutput();
        }
        for (const QByteArray& gray : readings) {
            ASSERT_EQ(gray.size(), c.width * c.height);
            for (int i = 0; i < gray.size(); ++i)
                ASSERT_EQ(quint8(gray[i]), IsBlack(i % c.width, i / c.width, scale) ? 0 : 255) << i;
        }
    }
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(SaveImage, AppendedNameIsAskedAboutBeforeItIsReplaced) {
    QFile existing(dir.filePath("kept.bmp"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("precious");
    existing.close();
    path = dir.filePath("kept");
    messages.answerYes = false;
    saver.SaveImage(canvas, 0);
    EXPECT_EQ(messages.shown, QStringList{QDir::toNativeSeparators(dir.filePath("kept.bmp")) +
                                          " already exists.\r\nDo you want to replace it?"});
    EXPECT_EQ(ReadAll(dir.filePath("kept.bmp")), "precious");
    messages.answerYes = true;
    saver.SaveImage(canvas, 0);
    EXPECT_EQ(ReadAll(dir.filePath("kept.bmp")).size(), 268854);
    // The name as chosen was already asked about by the dialog.
    messages.shown.clear();
    path = dir.filePath("kept.bmp");
    saver.SaveImage(canvas, 1);
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_EQ(ReadAll(dir.filePath("kept.bmp")).size(), 1075254);
}

TEST_F(SaveImage, FailureIsToldAndLeavesNoFile) {
    path = dir.filePath("missing-folder/scope.bmp");
    saver.SaveImage(canvas, 0);
    ASSERT_EQ(messages.shown.size(), 1);
    const QString prefix = "The picture could not be saved to " + QDir::toNativeSeparators(*path) + ":\r\n";
    EXPECT_TRUE(messages.shown[0].startsWith(prefix) && messages.shown[0].size() > prefix.size() + 1)
        << messages.shown[0].toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

// A disk too small for the bitmap (a 16 KiB file system of its own, in a mount
// namespace of a child process): the cause is named, and nothing is left behind.
TEST_F(SaveImage, FullDiskIsNamedAndLeavesNoFile) {
    const pid_t child = fork();
    if (child == 0) {
        const QByteArray folder = QFile::encodeName(dir.path());
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", folder.constData(), "tmpfs", 0, "size=16k") != 0)
            _exit(10);
        path = dir.filePath("scope.bmp");
        saver.SaveImage(canvas, 1);
        const QString expected = "The picture could not be saved to " + QDir::toNativeSeparators(*path) +
                                 ":\r\nno space left on the device.";
        if (messages.shown != QStringList{expected}) {
            std::fprintf(stderr, "said: %s\n", qPrintable(messages.shown.join(" | ")));
            _exit(11);
        }
        _exit(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty() ? 0 : 12);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // 10: no file system of its own could be made; 11: the message; 12: a file was left.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
}

TEST(PrintedPictureRect, PageSizes) {
    struct Case {
        int W, H, w, h;
    };
    for (const Case c : {Case{2480, 3508, 1646, 1920},                               // width is the limit
                         Case{4960, 7016, 3300, 3850}, Case{7016, 4960, 2828, 3300}, // height is the limit
                         Case{10, 10, 0, 0}, Case{1, 1, 0, 0}, Case{0, 0, 0, 0}})
        EXPECT_EQ(capture::PrintedPictureRect(c.W, c.H), QRect(5, 5, c.w, c.h)) << c.W << " x " << c.H;
}
