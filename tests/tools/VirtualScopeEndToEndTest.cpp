// The virtual scope as the host meets it: a device link to a pseudo-terminal,
// driven with plain open/read/write/flock.
#include "VirtualScopeProcess.h"

#include <gtest/gtest.h>

#include <QImage>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using testsupport::Field;
using testsupport::VirtualScopeProcess;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> With(std::vector<std::string> extra) {
    extra.insert(extra.begin(), {"--throughput", "0", "--latency-ms", "0"});
    return extra;
}

std::string RuntimeFile(const std::string& name) {
    return std::string(std::getenv("XDG_RUNTIME_DIR")) + "/" + name;
}

// Opens the device as the driver library does; -2: somebody else holds the lock.
int OpenDevice(const std::string& link) {
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -2;
    }
    return fd;
}

// Every command is sent to an idle device, so it fits the line's buffer.
void Send(int fd, const Bytes& bytes) {
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
}

// Reads until count bytes have arrived or timeoutMs passed without a byte.
Bytes Receive(int fd, std::size_t count, int timeoutMs = 3000) {
    Bytes got;
    std::uint8_t buf[16384];
    pollfd p{fd, POLLIN, 0};
    while (got.size() < count && poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN)) {
        const ssize_t n = read(fd, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0)
            break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

Bytes Packet(std::uint8_t code, unsigned address = 0, const Bytes& data = {}, std::uint8_t end = 0x03) {
    Bytes p{0x02,
            code,
            std::uint8_t(address >> 8),
            std::uint8_t(address),
            std::uint8_t(data.size() >> 8),
            std::uint8_t(data.size())};
    p.insert(p.end(), data.begin(), data.end());
    p.push_back(end);
    return p;
}

char Ask(int fd, const Bytes& packet) {
    Send(fd, packet);
    const Bytes reply = Receive(fd, 6);
    return reply.size() == 6 ? char(reply[2]) : 0;
}

// The scope's log lines of event ev, without their time stamps.
Lines Events(const VirtualScopeProcess& scope, const std::string& ev) {
    Lines found;
    for (const std::string& line : scope.LogLines())
        if (Field(line, "ev") == ev)
            found.push_back(line.substr(line.find(' ') + 1));
    return found;
}

// An open device whose scope went away sees a hang-up, not silence.
void ExpectHangUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    EXPECT_TRUE(poll(&p, 1, 2000) == 1 && (p.revents & (POLLHUP | POLLERR)));
    std::uint8_t b;
    EXPECT_LE(read(fd, &b, 1), 0);
    close(fd);
}

} // namespace

TEST(VirtualScopeEndToEnd, ScreenRequestGetsOneRawFrameAndSigtermRemovesTheLink) {
    // A large picture makes Qt scale it on worker threads; SIGTERM must still
    // reach the scope's loop, not end the process on one of those threads.
    QImage image(960, 1120, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            image.setPixel(x, y, qRgb(0, 0, 0));
    ASSERT_TRUE(image.save(QString::fromStdString(RuntimeFile("corner.png"))));
    VirtualScopeProcess scope(With({"--picture", RuntimeFile("corner.png"), "--header-fill", "0x0D"}));
    EXPECT_EQ(fs::status(VirtualScopeProcess::BridgeDirectory()).permissions(), fs::perms::owner_all);

    const int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    Send(fd, Bytes{0x00, 0x51, 0x42}); // a stray byte, then a request in two pieces
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Send(fd, Bytes{0x0D});
    const Bytes frame = Receive(fd, 8411, 500);
    ASSERT_EQ(frame.size(), 8410u) << "one request, one frame";
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 10), Bytes(10, 0x0D)) << "0x0D must pass untranslated";
    EXPECT_EQ(frame[10 + 239 * 35], 0xFF) << "the top-left corner is line 239, first pixels";
    EXPECT_EQ(frame[10], 0x00);
    close(fd);

    scope.Stop();
    EXPECT_FALSE(fs::is_symlink(scope.LinkPath()));
    EXPECT_EQ(Events(scope, "exit").size(), 1u);
    EXPECT_EQ(Events(scope, "ignored"), Lines{"ev=ignored bytes=1"});
    EXPECT_EQ(Events(scope, "cmd"), Lines{"ev=cmd n=1 kind=screen"});
    EXPECT_EQ(Events(scope, "reply"), Lines{"ev=reply n=1 bytes=8410 status=- fault=none"});
}

TEST(VirtualScopeEndToEnd, DownloadEndsUpInTheFlashFile) {
    // A folder of its own, holding an old file the download must replace.
    const fs::path file = fs::path(RuntimeFile("flash")) / "flash.bin";
    fs::create_directories(file.parent_path());
    { std::ofstream(file) << "stale contents"; }
    VirtualScopeProcess scope(With({"--firmware", "bootloader", "--blocks-per-sector", "2", "--sectors", "2",
                                    "--flash-file", file.string(), "--erase-ms", "0", "--program-ms", "0"}));
    int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    Send(fd, Packet(0xFA));
    EXPECT_EQ(Receive(fd, 6), (Bytes{0x02, 0xFA, 'A', 2, 2, 0x03}));
    // The host may close and reopen the device between commands.
    close(fd);
    fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);

    Bytes image(3 * 2048);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = std::uint8_t(i % 5 == 0 ? 0x02 : (i % 5 == 1 ? 0x03 : i * 31));
    const auto block = [&](int b) { return Bytes(image.begin() + b * 2048, image.begin() + (b + 1) * 2048); };
    // Refused and broken commands must leave the flash alone: the file shows it.
    const std::pair<Bytes, char> steps[] = {{Packet(0xFF), 'B'},
                                            {Packet(0xFC, 0), 'C'},
                                            {Packet(0xFD, 0, block(0)), 'P'},
                                            {Packet(0xFE, 0), 'A'},
                                            {Packet(0xFC, 0), 'A'},
                                            {Packet(0xFD, 0, Bytes(2047)), 'L'},
                                            {Packet(0xFD, 0), 'L'},
                                            {Packet(0xFD, 0, block(0)), 'A'},
                                            {Packet(0xFD, 0, block(1)), 'P'},
                                            {Packet(0xFC, 0), 'C'},
                                            {Packet(0xFD, 1, block(1)), 'A'},
                                            {Packet(0xFE, 1), 'A'},
                                            {Packet(0xFE, 0, {}, 0x04), 'F'},
                                            {Packet(0xFD, 2, block(2)), 'A'},
                                            {Packet(0xFE, 2), 'R'},
                                            {Packet(0xFC, 2), 'R'},
                                            {Packet(0xFD, 4, block(0)), 'R'},
                                            {Packet(0x10), 'U'},
                                            {Packet(0xFB), 'A'}};
    for (const auto& [packet, status] : steps)
        EXPECT_EQ(Ask(fd, packet), status) << "command " << int(packet[1]) << " at " << int(packet[3]);

    // The reply to the end command comes after the whole file is in place,
    // written beside it under another name and renamed: nothing else is left.
    std::ifstream in(file, std::ios::binary);
    const Bytes flash{std::istreambuf_iterator<char>(in), {}};
    image.resize(4 * 2048, 0xFF); // block 3: erased, never programmed
    EXPECT_TRUE(flash == image) << "the flash file differs from the download (" << flash.size() << " bytes)";
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 1);
    close(fd);
    scope.Stop(); // the log is complete once the scope has exited
    EXPECT_EQ(Events(scope, "cmd").at(11), "ev=cmd n=12 code=0xFD addr=1 len=2048");
    EXPECT_EQ(Events(scope, "flash").size(), 2u) << "at the end command and at exit";
}

TEST(VirtualScopeEndToEnd, UnplugsAfterBytesCommandsOrSignalAndReplugs) {
    VirtualScopeProcess scope(
        With({"--firmware", "bootloader", "--unplug-after-bytes", "10", "--unplug-after-commands", "3"}));
    int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd, Packet(0xFF)), 'B');
    Send(fd, Packet(0xFF)); // its fourth byte is the tenth: the device goes away mid-command
    ExpectHangUp(fd);
    for (int round = 0; round < 2; ++round) {
        scope.Replug();
        fd = OpenDevice(scope.LinkPath());
        ASSERT_GE(fd, 0);
        EXPECT_EQ(Ask(fd, Packet(0xFF)), 'B');
        if (round == 0)
            EXPECT_EQ(Ask(fd, Packet(0xFF)), 'B') << "command 3, the last, is still answered";
        else
            scope.Unplug(); // the fixture checks that the link goes
        ExpectHangUp(fd);
    }
    EXPECT_EQ(Events(scope, "cmd").size(), 4u) << "the cut command was never taken";
    EXPECT_EQ(Events(scope, "unplug").size(), 3u);
    EXPECT_EQ(Events(scope, "plug").size(), 3u);
}

TEST(VirtualScopeEndToEnd, EachFaultShapesTheReplyOnBothFirmwares) {
    for (const bool boot : {true, false}) {
        SCOPED_TRACE(boot ? "bootloader" : "screen");
        VirtualScopeProcess scope(
            With({"--firmware", boot ? "bootloader" : "screen", "--picture", "pattern:full", "--fault",
                  "drop@1", "--fault", "short@2", "--fault", "status@3", "--fault", "noise@4", "--fault",
                  "late@5", "--late-ms", "400"}));
        const Bytes request = boot ? Packet(0xFF) : Bytes{0x51, 0x42, 0x0D};
        Bytes whole = boot ? Bytes{0x02, 0xFF, 'B', 0, 0, 0x03} : Bytes(10, 0x00);
        whole.resize(boot ? 6 : 8410, 0xFF);
        const Bytes cut(whole.begin(), whole.begin() + (boot ? 3 : 4205));
        const Bytes flagged = boot ? Bytes{0x02, 0xFF, 'X', 0, 0, 0x03} : cut;
        const Bytes noise = boot ? Bytes{0x02, 0xFD, 0x41, 0x00, 0x00, 0x03} : Bytes{0x55};
        Bytes noisy = whole, twice = whole;
        noisy.insert(noisy.end(), noise.begin(), noise.end());
        twice.insert(twice.end(), whole.begin(), whole.end());
        const int fd = OpenDevice(scope.LinkPath());
        ASSERT_GE(fd, 0);
        for (const Bytes& expected : {Bytes{}, cut, flagged, noisy}) {
            Send(fd, request);
            const Bytes got = Receive(fd, expected.size() + 1, 200);
            EXPECT_TRUE(got == expected) << got.size() << " bytes, not " << expected.size();
        }
        // The late reply comes after --late-ms, and the command after it waits.
        Send(fd, request);
        Send(fd, request);
        EXPECT_TRUE(Receive(fd, 1, 300).empty()) << "the late reply came early";
        const Bytes got = Receive(fd, twice.size() + 1, 500);
        EXPECT_TRUE(got == twice) << got.size() << " bytes, not " << twice.size();
        close(fd);
        scope.Stop();

        const char* kinds[] = {"drop", "short", "status", "noise", "late", "none"};
        const std::size_t sizes[] = {0, cut.size(), flagged.size(), whole.size(), whole.size(), whole.size()};
        const std::string statuses = boot ? "-BXBBB" : "------";
        Lines replies;
        for (std::size_t i = 0; i < 6; ++i)
            replies.push_back("ev=reply n=" + std::to_string(i + 1) + " bytes=" + std::to_string(sizes[i]) +
                              " status=" + statuses[i] + " fault=" + kinds[i]);
        EXPECT_EQ(Events(scope, "reply"), replies);
        EXPECT_EQ(Events(scope, "noise"), Lines{boot ? "ev=noise bytes=6" : "ev=noise bytes=1"});
    }
}

TEST(VirtualScopeEndToEnd, BusyDeviceRefusesTheHostsLockAllTheTime) {
    VirtualScopeProcess busy(With({"--busy"}));
    EXPECT_EQ(OpenDevice(busy.LinkPath()), -2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(OpenDevice(busy.LinkPath()), -2);
}
