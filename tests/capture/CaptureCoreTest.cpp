// Quorvex without a window: binding the driver library by name, the link watch, requests
// and frames against a peer of the test's own and against the virtual scope, the bitmap
// files and the printed picture's size.
#include "CaptureRig.h"
#include "ImageSaver.h"
#include "PrintLayout.h"
#include "PtyPeer.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace capturetest;
using capture::ImageSaver;

namespace {

const QString kLost = QStringLiteral("Could not connect to Scope on USB.");
const QRect kPicture = capture::ScreenCanvas::kPictureArea;

unsigned SubstituteCalls(const std::string& dir) {
    void* library = dlopen((dir + "/libftd2xx.so").c_str(), RTLD_NOW);
    auto count =
        library ? reinterpret_cast<unsigned (*)()>(dlsym(library, "substitute_call_count")) : nullptr;
    EXPECT_NE(count, nullptr) << dir;
    return count ? count() : ~0u;
}

// Every command of the screen firmware is a screen request.
int ScreenRequests(const testsupport::VirtualScopeProcess& scope) {
    return static_cast<int>(scope.WaitForEvents("cmd", 0, 0).size());
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(DriverBinding, FailuresAreToldAndMakeNoDriverCall) {
    struct Case {
        std::string dir, file, diagnostic;
        int resolved; // entries found before the missing one, in their order
    };
    // The missing library has a name of its own: for the usual one the loader would hand
    // out the real library, which this process has loaded already.
    for (const Case& c :
         {Case{SCOPE_SUBSTITUTES_DIR, "libftd2xx-absent.so", "FTD2XX.dll Load Error", 0},
          Case{SCOPE_SUBSTITUTES_DIR "/without-FT_Open", "libftd2xx.so", "FT_Open load error", 0},
          Case{SCOPE_SUBSTITUTES_DIR "/without-FT_GetQueueStatus", "libftd2xx.so",
               "FT_GetQueueStatus load error", 3},
          Case{SCOPE_SUBSTITUTES_DIR "/without-FT_Read", "libftd2xx.so", "FT_ReadAny load error", 5}}) {
        SCOPED_TRACE(c.dir);
        const bool substitute = c.file == "libftd2xx.so";
        const unsigned before = substitute ? SubstituteCalls(c.dir) : 0;
        CaptureRig rig(c.dir, c.file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(rig.Open(), 0);
        const std::string said = testing::internal::GetCapturedStderr(), prefix = c.diagnostic + " : ";
        // The prefix, then the error number alone on the line.
        EXPECT_TRUE(said.starts_with(prefix) && said.size() > prefix.size() + 1 && said.back() == '\n' &&
                    said.find_first_not_of("0123456789", prefix.size()) == said.size() - 1)
            << said;
        EXPECT_EQ(rig.shown, QStringList{"USB drivers not installed."});
        const capture::DriverTable& d = rig.driver;
        EXPECT_EQ(!!d.m_open + !!d.m_close + !!d.m_listDevices + !!d.m_getQueueStatus + !!d.m_write +
                      !!d.m_read,
                  c.resolved);
        EXPECT_FALSE(rig.timerRunning || rig.canvas.IsCreated() || rig.state.m_driverHandle);
        rig.link.CloseLink();
        EXPECT_EQ(substitute ? SubstituteCalls(c.dir) : 0, before);
    }
}

TEST(LinkSupervision, ScopeAbsentAtStartIsToldOnceAndOpenedSilentlyOnArrival) {
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    EXPECT_TRUE(rig.timerRunning);
    rig.TickFor(200);
    EXPECT_EQ(rig.shown, QStringList{kLost});
    testsupport::VirtualScopeProcess scope(FastLink());
    ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_disconnected == 0; }));
    rig.receiver.CaptureOnce();
    EXPECT_TRUE(rig.TickUntilFrames(1));
    EXPECT_EQ(rig.shown, QStringList{kLost});
}

TEST(AcquisitionFromPeer, OnlyAnExactFrameAfterARequestIsRead) {
    PtyPeer peer;
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    const auto sent = [&](size_t n) { return rig.TickUntil([&] { return peer.Collect().size() >= n; }); };
    // Offers the bytes while ticking, as fast as the line takes them.
    const auto feed = [&](const Bytes& bytes) {
        size_t offered = 0;
        EXPECT_TRUE(rig.TickUntil([&] { return (offered = peer.Offer(bytes, offered)) == bytes.size(); }));
    };
    // Bytes nobody asked for are not a frame; the next request throws them away.
    feed(Bytes(8410, 0xFF));
    rig.TickFor(50);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 0u);
    rig.receiver.CaptureOnce();
    ASSERT_TRUE(sent(3));
    Bytes frame(8410, 0); // the last pixel alone, below a header (never drawn) of 0xFF
    std::fill_n(frame.begin(), 10, 0xFF);
    frame[8409] = 0x01;
    feed({frame.begin(), frame.end() - 1});
    rig.TickFor(100);
    EXPECT_EQ(rig.receiver.FramesDrawn() + rig.invalidations, 0u);
    EXPECT_EQ(rig.state.m_requestPending, 1);
    // The last byte is queued without a tick and the request is then overdue: a complete
    // frame is taken however late it is (the thread may have been held up).
    ASSERT_EQ(write(peer.Master(), &frame.back(), 1), 1);
    DWORD waiting = 0;
    for (int i = 0; i < 2000 && waiting != 8410; ++i, usleep(1000))
        rig.driver.m_getQueueStatus(rig.state.m_driverHandle, &waiting);
    ASSERT_EQ(waiting, 8410u);
    rig.clockOffset += 3 * capture::FrameReceiver::kStalledRequestMs;
    ASSERT_TRUE(rig.TickUntilFrames(1));
    EXPECT_EQ(rig.state.m_requestPending, 0);
    EXPECT_EQ(rig.invalidations, 1);
    EXPECT_EQ(BlackPixels(rig.canvas.Image(), kPicture), 1);
    EXPECT_EQ(rig.canvas.Image().pixel(1, 280), qRgb(0, 0, 0));
    EXPECT_EQ(rig.state.m_receiveBuffer[8410], 0); // the spare byte
    // One byte too many (a stray byte after the reply) spoils the frame; real time asks again.
    rig.receiver.StartRealTime();
    ASSERT_TRUE(sent(6));
    feed(Bytes(8411, 0));
    ASSERT_TRUE(sent(9));
    EXPECT_EQ(rig.receiver.FramesDrawn(), 1u);
    feed(Bytes(8410, 0));
    EXPECT_TRUE(rig.TickUntilFrames(2));
    EXPECT_EQ(BlackPixels(rig.canvas.Image(), kPicture), 0);
    ASSERT_TRUE(sent(12));
    EXPECT_EQ(peer.Collect(),
              (Bytes{0x51, 0x42, 0x0D, 0x51, 0x42, 0x0D, 0x51, 0x42, 0x0D, 0x51, 0x42, 0x0D}));
}

TEST(Acquisition, CommandsNeverCancelTheFrameInFlight) {
    // A slow reply, so that the commands below all arrive while it is outstanding.
    testsupport::VirtualScopeProcess scope({"--throughput", "0", "--latency-ms", "150"});
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.receiver.StartRealTime();
    rig.receiver.StartRealTime(); // twice: still one request
    rig.receiver.StopCapture();   // the frame in flight is still drawn
    ASSERT_TRUE(rig.TickUntilFrames(1));
    rig.TickFor(400);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 1u);
    EXPECT_EQ(ScreenRequests(scope), 1);
    rig.receiver.StartRealTime();
    rig.receiver.CaptureOnce(); // sends nothing; the stream ends after this frame
    ASSERT_TRUE(rig.TickUntilFrames(2));
    rig.TickFor(400);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 2u);
    EXPECT_EQ(ScreenRequests(scope), 2);
    rig.receiver.CaptureOnce();
    rig.receiver.StartRealTime(); // back to streaming without a second request
    ASSERT_TRUE(rig.TickUntilFrames(4));
    rig.receiver.StopCapture();
    rig.TickFor(400);
    EXPECT_EQ(ScreenRequests(scope), static_cast<int>(rig.receiver.FramesDrawn()));
    EXPECT_EQ(rig.invalidations, static_cast<int>(rig.receiver.FramesDrawn()));
}

TEST(Acquisition, LostRepliesAreGivenUpAndOnlyRealTimeAsksAgain) {
    testsupport::VirtualScopeProcess scope(FastLink({"--fault", "drop@1,2"}));
    CaptureRig rig;
    ASSERT_EQ(rig.Open(), 1);
    rig.receiver.CaptureOnce();
    rig.TickFor(100);
    EXPECT_EQ(rig.state.m_requestPending, 1);
    rig.clockOffset += 2 * capture::FrameReceiver::kStalledRequestMs;
    ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_requestPending == 0; }));
    rig.TickFor(50);
    EXPECT_EQ(ScreenRequests(scope), 1);
    rig.receiver.StartRealTime();
    rig.TickFor(100);
    EXPECT_EQ(rig.state.m_requestPending, 1);
    EXPECT_EQ(rig.receiver.FramesDrawn(), 0u);
    rig.clockOffset += 2 * capture::FrameReceiver::kStalledRequestMs;
    ASSERT_TRUE(rig.TickUntilFrames(3));
    rig.receiver.StopCapture();
    rig.TickFor(100);
    EXPECT_EQ(ScreenRequests(scope), static_cast<int>(rig.receiver.FramesDrawn()) + 2);
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
    QString Failure() const {
        return "The picture could not be saved to " + QDir::toNativeSeparators(*path) + ":\r\n";
    }
    QStringList Files() const { return QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries); }
    QTemporaryDir dir;
    std::optional<QString> path;
    RecordingPorts messages;
    capture::ScreenCanvas canvas;
    ImageSaver saver{*this, messages};
};

// Every byte of the file at 1x and 2x, built here independently (bottom row first, each pixel
// blue, green, red, 0; at 2x each picture pixel a 2 x 2 block), and ImageMagick's reading of it.
TEST_F(SaveImage, FilesHoldExactBytesAndReadBackPixelForPixel) {
    const QString convert = QStandardPaths::findExecutable("convert");
    ASSERT_FALSE(convert.isEmpty()) << "ImageMagick's convert is not installed";
    for (const int scale : {1, 2}) {
        path = dir.filePath(QStringLiteral("zoom%1").arg(scale));
        saver.SaveImage(canvas, scale - 1);
        const qint32 width = 240 * scale, height = 280 * scale;
        const quint32 size = 54 + 4 * width * height;
        const auto black = [&](int x, int y) {
            return canvas.Image().pixel(1 + x / scale, 1 + y / scale) == qRgb(0, 0, 0);
        };
        QByteArray expected;
        QDataStream out(&expected, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        out.writeRawData("BM", 2);
        // File size, reserved, pixel offset, header size, width, height, planes, bits per pixel,
        // no compression, pixel bytes, then resolution and colour counts all 0.
        out << size << 0u << 54u << 40u << width << height << quint16(1) << quint16(32) << 0u << size - 54
            << 0u << 0u << 0u << 0u;
        for (int y = height - 1; y >= 0; --y)
            for (int x = 0; x < width; ++x)
                out << (black(x, y) ? 0u : 0x00FFFFFFu);
        const QByteArray bytes = ReadAll(*path + ".bmp");
        ASSERT_EQ(bytes.size(), expected.size());
        EXPECT_TRUE(bytes == expected) << "zoom " << scale;
        // As gray levels, row by row from the top.
        QProcess process;
        process.start(convert, {*path + ".bmp", "-depth", "8", "gray:-"});
        ASSERT_TRUE(process.waitForFinished(20000));
        const QByteArray gray = process.readAllStandardOutput();
        ASSERT_EQ(gray.size(), width * height);
        for (int i = 0; i < gray.size(); ++i)
            ASSERT_EQ(quint8(gray[i]), black(i % width, i / width) ? 0 : 255) << i;
    }
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(SaveImage, AppendedNameIsAskedAboutBeforeItIsReplacedAndFailuresAreTold) {
    for (const char* kept : {"/a/scope.bmp", "/a/scope.BMP", "/a/scope.Bmp"})
        EXPECT_EQ(ImageSaver::BitmapFileName(kept), kept);
    for (const char* extended : {"/a/scope", "/a/scope.bm", "/a/scope.txt", "bmp"})
        EXPECT_EQ(ImageSaver::BitmapFileName(extended), QString(extended) + ".bmp");
    QFile existing(dir.filePath("kept.bmp"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly) && existing.write("precious") == 8);
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
    // A folder that is not there: the cause follows, and no file is left.
    path = dir.filePath("missing-folder/scope.bmp");
    saver.SaveImage(canvas, 0);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith(Failure()) && messages.shown[0].size() > Failure().size() + 1)
        << messages.shown[0].toStdString();
    EXPECT_EQ(Files(), QStringList{"kept.bmp"});
}

// A disk too small for the bitmap (a 16 KiB file system of its own, in a mount namespace of a
// child process): the cause is named, and nothing is left behind.
TEST_F(SaveImage, FullDiskIsNamedAndLeavesNoFile) {
    const pid_t child = fork();
    if (child == 0) {
        const QByteArray folder = QFile::encodeName(dir.path());
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", folder.constData(), "tmpfs", 0, "size=16k") != 0)
            _exit(10);
        path = dir.filePath("scope.bmp");
        saver.SaveImage(canvas, 1);
        if (messages.shown != QStringList{Failure() + "no space left on the device."}) {
            std::fprintf(stderr, "said: %s\n", qPrintable(messages.shown.join(" | ")));
            _exit(11);
        }
        _exit(Files().isEmpty() ? 0 : 12);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // 10: no file system of its own could be made; 11: the message; 12: a file was left.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
}

TEST(PrintedPictureRect, PageSizes) {
    // Width the limit, then height; pages too small for any picture.
    for (const auto& [W, H, w, h] : {std::array{2480, 3508, 1646, 1920},
                                     {4960, 7016, 3300, 3850},
                                     {7016, 4960, 2828, 3300},
                                     {10, 10, 0, 0},
                                     {1, 1, 0, 0},
                                     {0, 0, 0, 0}})
        EXPECT_EQ(capture::PrintedPictureRect(W, H), QRect(5, 5, w, h)) << W << " x " << H;
}

} // namespace
