// Quorvex without a window: binding the driver library by name, the link watch, requests and frames against a
// peer of the test's own and against the virtual scope, the bitmap files and the printed picture's size.
#include "CaptureRig.h"
#include "PrintLayout.h"
#include "PtyPeer.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <fstream>
#include <regex>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace capturetest;

namespace {

const QStringList kLost{"Could not connect to Scope on USB."};

// Every command of the screen firmware is a screen request.
int ScreenRequests(const testsupport::VirtualScopeProcess& scope) {
    return static_cast<int>(scope.WaitForEvents("cmd", 0, 0).size());
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A missing library or entry is told on standard error (then its error number alone) and to the
// user, the entries before the missing one are resolved in order, and no driver call follows.
TEST(DriverBinding, FailuresAreToldAndMakeNoDriverCall) {
    // The missing library has a name of its own: for the usual one the loader would hand out the
    // real library, which this process has loaded already.
    const std::tuple<std::string, const char*, std::string, int> cases[] = {
        {"", "libftd2xx-absent.so", R"(FTD2XX\.dll Load Error)", 0},
        {"/without-FT_Open", "libftd2xx.so", "FT_Open load error", 0},
        {"/without-FT_GetQueueStatus", "libftd2xx.so", "FT_GetQueueStatus load error", 3},
        {"/without-FT_Read", "libftd2xx.so", "FT_ReadAny load error", 5}};
    for (const auto& [substitute, file, diagnostic, resolved] : cases) {
        const std::string dir = SCOPE_SUBSTITUTES_DIR + substitute;
        SCOPED_TRACE(dir);
        unsigned (*calls)() = [] { return 0u; }; // a substitute counts the calls of its operations
        if (!substitute.empty())
            calls = reinterpret_cast<unsigned (*)()>(
                dlsym(dlopen((dir + "/" + file).c_str(), RTLD_NOW), "substitute_call_count"));
        ASSERT_TRUE(calls);
        const unsigned before = calls();
        CaptureRig rig(dir, file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(rig.link.OpenLink(), 0);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(std::regex_match(said, std::regex(diagnostic + " : [0-9]+\n"))) << said;
        EXPECT_EQ(rig.shown, QStringList{"USB drivers not installed."});
        const capture::DriverTable& d = rig.driver;
        EXPECT_EQ(!!d.m_open + !!d.m_close + !!d.m_listDevices + !!d.m_getQueueStatus + !!d.m_write +
                      !!d.m_read,
                  resolved);
        EXPECT_FALSE(rig.timerRunning || rig.canvas.IsCreated() || rig.state.m_driverHandle);
        rig.link.CloseLink();
        EXPECT_EQ(calls(), before);
    }
}

TEST(LinkSupervision, ScopeAbsentAtStartIsToldOnceAndOpenedSilentlyOnArrival) {
    CaptureRig rig;
    EXPECT_TRUE(rig.timerRunning);
    rig.TickFor(200);
    EXPECT_EQ(rig.shown, kLost);
    testsupport::VirtualScopeProcess scope(kFastLink);
    ASSERT_TRUE(rig.TickUntil([&] { return rig.state.m_disconnected == 0; }));
    rig.receiver.CaptureOnce();
    EXPECT_TRUE(rig.TickUntilFrames(1));
    EXPECT_EQ(rig.shown, kLost);
}

TEST(AcquisitionFromPeer, OnlyAnExactFrameAfterARequestIsRead) {
    PtyPeer peer;
    CaptureRig rig;
    const auto sent = [&](size_t n) { return rig.TickUntil([&] { return peer.Collect().size() >= n; }); };
    // Offers the bytes while ticking, as fast as the line takes them.
    const auto feed = [&](const Bytes& bytes, size_t offered = 0) {
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
    // The last byte is queued without a tick and the request is then overdue: a complete
    // frame is taken however late it is (the thread may have been held up).
    ASSERT_EQ(write(peer.Master(), &frame.back(), 1), 1);
    DWORD waiting = 0;
    for (int i = 0; i < 2000 && waiting != 8410; ++i, usleep(1000))
        rig.driver.m_getQueueStatus(rig.state.m_driverHandle, &waiting);
    ASSERT_EQ(waiting, 8410u);
    rig.clockOffset += 3 * capture::FrameReceiver::kStalledRequestMs;
    ASSERT_TRUE(rig.TickUntilFrames(1));
    EXPECT_EQ(BlackPixels(rig.canvas.Picture()), 1);
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
    EXPECT_EQ(BlackPixels(rig.canvas.Picture()), 0);
    ASSERT_TRUE(sent(12));
    EXPECT_EQ(peer.Collect(),
              (Bytes{0x51, 0x42, 0x0D, 0x51, 0x42, 0x0D, 0x51, 0x42, 0x0D, 0x51, 0x42, 0x0D}));
}

TEST(Acquisition, CommandsNeverCancelTheFrameInFlight) {
    // A slow reply, so that the commands below all arrive while it is outstanding.
    testsupport::VirtualScopeProcess scope({"--throughput", "0", "--latency-ms", "150"});
    CaptureRig rig;
    rig.receiver.StartRealTime();
    rig.receiver.StartRealTime(); // twice: still one request
    rig.receiver.StopCapture();   // the frame in flight is still drawn
    ASSERT_TRUE(rig.TickUntilFrames(1));
    rig.TickFor(400);
    EXPECT_EQ(ScreenRequests(scope), 1);
    rig.receiver.StartRealTime();
    rig.receiver.CaptureOnce(); // sends nothing; the stream ends after this frame
    ASSERT_TRUE(rig.TickUntilFrames(2));
    rig.TickFor(400);
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
    testsupport::VirtualScopeProcess scope({"--throughput", "0", "--latency-ms", "0", "--fault", "drop@1,2"});
    CaptureRig rig;
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
    rig.clockOffset += 2 * capture::FrameReceiver::kStalledRequestMs;
    ASSERT_TRUE(rig.TickUntilFrames(3));
    rig.receiver.StopCapture();
    rig.TickFor(100);
    EXPECT_EQ(ScreenRequests(scope), static_cast<int>(rig.receiver.FramesDrawn()) + 2);
}

// Every byte of the file at 1x and 2x, built here independently (bottom row first, each pixel
// blue, green, red, 0; at 2x each picture pixel a 2 x 2 block). A name without the extension gets
// it; the name with it appended is asked about before it is replaced, the name as chosen not (the
// dialog did); a failure names its cause and leaves no file.
TEST(SaveImage, FilesHoldExactBytesAndReplacingOrFailingIsTold) {
    QTemporaryDir dir;
    RecordingPorts ports;
    capture::ScreenCanvas canvas;
    capture::ImageSaver saver{ports, ports};
    const auto failure = [&] {
        return "The picture could not be saved to " + QDir::toNativeSeparators(*ports.savePath) + ":\r\n";
    };
    const auto files = [&] { return QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries); };
    // An L of black pixels in the corner and one far from it: shows any mirroring or offset.
    canvas.CreateCanvas();
    for (const QPoint p : {QPoint(1, 280), QPoint(2, 280), QPoint(1, 279), QPoint(240, 1)})
        canvas.SetPixel(p.x(), p.y(), qRgb(0, 0, 0));
    for (const int scale : {1, 2}) {
        ports.savePath = dir.filePath(QStringLiteral("zoom%1").arg(scale));
        saver.SaveImage(canvas, scale - 1);
        const qint32 width = 240 * scale, height = 280 * scale;
        const quint32 size = 54 + 4 * width * height;
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
                out << (canvas.Image().pixel(1 + x / scale, 1 + y / scale) & 0x00FFFFFFu);
        EXPECT_TRUE(ReadAll(*ports.savePath + ".bmp") == expected) << "zoom " << scale;
    }
    EXPECT_TRUE(ports.shown.isEmpty());

    for (const char* kept : {"/a/scope.bmp", "/a/scope.BMP", "/a/scope.Bmp"})
        EXPECT_EQ(capture::ImageSaver::BitmapFileName(kept), kept);
    for (const char* extended : {"/a/scope", "/a/scope.bm", "/a/scope.txt", "bmp"})
        EXPECT_EQ(capture::ImageSaver::BitmapFileName(extended), QString(extended) + ".bmp");
    const QString kept = dir.filePath("kept.bmp");
    std::ofstream(kept.toStdString()) << "precious";
    ports.savePath = dir.filePath("kept");
    ports.answerYes = false;
    saver.SaveImage(canvas, 0);
    EXPECT_EQ(ports.shown,
              QStringList{QDir::toNativeSeparators(kept) + " already exists.\r\nDo you want to replace it?"});
    EXPECT_EQ(ReadAll(kept), "precious");
    ports.answerYes = true;
    saver.SaveImage(canvas, 0);
    EXPECT_EQ(ReadAll(kept).size(), 268854);
    ports.shown.clear();
    ports.savePath = kept;
    saver.SaveImage(canvas, 1);
    EXPECT_TRUE(ports.shown.isEmpty());
    EXPECT_EQ(ReadAll(kept).size(), 1075254);
    // A disk too small for the bitmap (a 16 KiB file system of its own, in a mount namespace of a
    // child process): the cause is named, and nothing is left behind.
    EXPECT_TRUE(InChild(false, [&] {
        const QByteArray folder = QFile::encodeName(dir.path());
        ASSERT_TRUE(unshare(CLONE_NEWNS) == 0 &&
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                    mount("tmpfs", folder.constData(), "tmpfs", 0, "size=16k") == 0)
            << "no file system of its own";
        ports.savePath = dir.filePath("scope.bmp");
        saver.SaveImage(canvas, 1);
        EXPECT_EQ(ports.shown, QStringList{failure() + "no space left on the device."});
        EXPECT_TRUE(files().isEmpty());
    }));
    ports.savePath = dir.filePath("missing-folder/scope.bmp");
    saver.SaveImage(canvas, 0);
    ASSERT_EQ(ports.shown.size(), 1);
    EXPECT_TRUE(ports.shown[0].startsWith(failure()) && ports.shown[0].size() > failure().size() + 1)
        << ports.shown[0].toStdString();
    EXPECT_EQ(files(), (QStringList{"kept.bmp", "zoom1.bmp", "zoom2.bmp"}));
}

TEST(PrintedPictureRect, PageSizes) {
    // Width the limit, then height; pages too small for any picture.
    for (const auto& [W, H, w, h] : {std::array{2480, 3508, 1646, 1920},
                                     {4960, 7016, 3300, 3850},
                                     {7016, 4960, 2828, 3300},
                                     {10, 10, 0, 0},
                                     {0, 0, 0, 0}})
        EXPECT_EQ(capture::PrintedPictureRect(W, H), QRect(5, 5, w, h)) << W << " x " << H;
}

} // namespace
