// The virtual scope as the host meets it: a device link to a pseudo-terminal,
// driven with plain open/read/write/flock.
#include "VirtualScopeProcess.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using testsupport::Field;
using testsupport::VirtualScopeProcess;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::vector<std::string> kFast{"--throughput", "0", "--latency-ms", "0"};

std::vector<std::string> With(std::vector<std::string> extra) {
    std::vector<std::string> all = kFast;
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
}

// Opens the device as the driver library does: read/write, exclusive lock.
int OpenDevice(const std::string& link) {
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -2;
    }
    return fd;
}

void Send(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += std::size_t(n);
        else if (n < 0 && errno == EAGAIN)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        else
            FAIL() << "write to the device failed: " << std::strerror(errno);
    }
}

// Reads until count bytes have arrived or timeoutMs passed without a byte.
Bytes Receive(int fd, std::size_t count, int timeoutMs = 3000) {
    Bytes got;
    while (got.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
            break;
        std::uint8_t buf[16384];
        const ssize_t n = read(fd, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0)
            break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

Bytes Packet(std::uint8_t code, unsigned address = 0, const Bytes& data = {}) {
    Bytes p(data.size() + 7);
    p[0] = 0x02;
    p[1] = code;
    p[2] = std::uint8_t(address >> 8);
    p[3] = std::uint8_t(address);
    p[4] = std::uint8_t(data.size() >> 8);
    p[5] = std::uint8_t(data.size());
    std::copy(data.begin(), data.end(), p.begin() + 6);
    p.back() = 0x03;
    return p;
}

char Ask(int fd, const Bytes& packet) {
    Send(fd, packet);
    const Bytes reply = Receive(fd, 6);
    return reply.size() == 6 ? char(reply[2]) : 0;
}

std::vector<std::string> Events(const VirtualScopeProcess& scope, const std::string& ev) {
    std::vector<std::string> found;
    for (const std::string& line : scope.LogLines())
        if (Field(line, "ev") == ev)
            found.push_back(line);
    return found;
}

// Field key of the index-th event ev, "" when there is no such event.
std::string Nth(const VirtualScopeProcess& scope, const std::string& ev, std::size_t index,
                const std::string& key) {
    const auto events = Events(scope, ev);
    return index < events.size() ? Field(events[index], key) : std::string();
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

const Bytes kScreenRequest{0x51, 0x42, 0x0D};

}  // namespace

TEST(VirtualScopeEndToEnd, ScreenFirmwareAnswersEachRequestWithOneFrame) {
    VirtualScopeProcess scope(With({"--picture", "pattern:last-pixel", "--header-fill", "0x0D"}));
    EXPECT_EQ(VirtualScopeProcess::BridgeDirectory(),
              std::string(std::getenv("XDG_RUNTIME_DIR")) + "/virtual-bridges");
    struct stat st;
    ASSERT_EQ(stat(VirtualScopeProcess::BridgeDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    Send(fd, Bytes{0x00, 0x51, 0x42});  // a stray byte, then a request in two pieces
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Send(fd, Bytes{0x0D});
    const Bytes frame = Receive(fd, 8410);
    ASSERT_EQ(frame.size(), 8410u);
    EXPECT_EQ(frame[0], 0x0D) << "the line must pass 0x0D through untranslated";
    EXPECT_EQ(frame[8409], 0x01);
    EXPECT_EQ(std::count(frame.begin() + 10, frame.end(), 0), 8399);
    EXPECT_TRUE(Receive(fd, 1, 100).empty()) << "one request, one frame";

    // The host closes and reopens the device between frames.
    close(fd);
    const int again = OpenDevice(scope.LinkPath());
    ASSERT_GE(again, 0);
    Send(again, kScreenRequest);
    EXPECT_EQ(Receive(again, 8410).size(), 8410u);
    close(again);

    scope.Stop();
    EXPECT_FALSE(Exists(scope.LinkPath()));
    const auto lines = scope.LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Field(lines.front(), "ev"), "plug");
    EXPECT_EQ(Field(lines.back(), "ev"), "exit");
    EXPECT_EQ(Events(scope, "ignored").size(), 1u);
    EXPECT_EQ(Nth(scope, "ignored", 0, "bytes"), "1");
    const auto replies = Events(scope, "reply");
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(Field(replies[1], "n"), "2");
    EXPECT_EQ(Field(replies[1], "bytes"), "8410");
    EXPECT_EQ(Field(replies[1], "status"), "-");
    EXPECT_EQ(Field(replies[1], "fault"), "none");
    EXPECT_EQ(Nth(scope, "cmd", 0, "kind"), "screen");
}

TEST(VirtualScopeEndToEnd, ShowsAPictureFileAndStillExitsCleanly) {
    // A large picture makes Qt scale it on worker threads; SIGTERM must still
    // reach the scope's loop, not end the process on one of those threads.
    QImage image(960, 1120, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            image.setPixel(x, y, qRgb(0, 0, 0));
    const std::string path = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/corner.png";
    ASSERT_TRUE(image.save(QString::fromStdString(path)));

    VirtualScopeProcess scope(With({"--picture", path}));
    const int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    Send(fd, kScreenRequest);
    const Bytes frame = Receive(fd, 8410);
    ASSERT_EQ(frame.size(), 8410u);
    EXPECT_EQ(frame[10 + 239 * 35], 0xFF) << "the top-left corner is line 239, first pixels";
    EXPECT_EQ(frame[10], 0x00);
    close(fd);
    scope.Stop();
    EXPECT_FALSE(Exists(scope.LinkPath()));
    ASSERT_FALSE(scope.LogLines().empty());
    EXPECT_EQ(Field(scope.LogLines().back(), "ev"), "exit");
}

TEST(VirtualScopeEndToEnd, ProgrammedDownloadEndsUpInTheFlashFile) {
    const std::string flashPath = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/flash.bin";
    VirtualScopeProcess scope(With({"--firmware", "bootloader", "--blocks-per-sector", "2", "--sectors",
                                    "2", "--flash-file", flashPath, "--erase-ms", "0", "--program-ms",
                                    "0"}),
                              "loader0");
    const int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd, Packet(0xFF)), 'B');
    Send(fd, Packet(0xFA));
    const Bytes geometry = Receive(fd, 6);
    EXPECT_EQ(geometry, (Bytes{0x02, 0xFA, 'A', 2, 2, 0x03}));

    Bytes image(3 * 2048);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = std::uint8_t(i % 5 == 0 ? 0x02 : (i % 5 == 1 ? 0x03 : i * 31));
    const auto block = [&](unsigned b) {
        return Bytes(image.begin() + b * 2048, image.begin() + (b + 1) * 2048);
    };
    EXPECT_EQ(Ask(fd, Packet(0xFC, 0)), 'C') << "the old contents are not blank";
    EXPECT_EQ(Ask(fd, Packet(0xFD, 0, block(0))), 'P');
    EXPECT_EQ(Ask(fd, Packet(0xFE, 0)), 'A');
    EXPECT_EQ(Ask(fd, Packet(0xFC, 0)), 'A');
    EXPECT_EQ(Ask(fd, Packet(0xFD, 0, block(0))), 'A');
    EXPECT_EQ(Ask(fd, Packet(0xFD, 1, block(1))), 'A');
    EXPECT_EQ(Ask(fd, Packet(0xFE, 1)), 'A');
    EXPECT_EQ(Ask(fd, Packet(0xFC, 1)), 'A');
    EXPECT_EQ(Ask(fd, Packet(0xFD, 2, block(2))), 'A');
    EXPECT_EQ(Ask(fd, Packet(0xFE, 2)), 'R');
    EXPECT_EQ(Ask(fd, Packet(0xFB)), 'A');

    std::ifstream in(flashPath, std::ios::binary);
    const Bytes flash{std::istreambuf_iterator<char>(in), {}};
    Bytes expected = image;
    expected.resize(4 * 2048, 0xFF);
    EXPECT_TRUE(flash == expected) << "flash file differs from the image (" << flash.size() << " bytes)";
    close(fd);
    scope.Stop();  // the log is complete once the scope has exited

    const auto commands = Events(scope, "cmd");
    ASSERT_EQ(commands.size(), 13u);
    EXPECT_EQ(Field(commands[3], "code"), "0xFD");
    EXPECT_EQ(Field(commands[3], "len"), "2048");
    EXPECT_EQ(Field(commands[11], "code"), "0xFE");
    EXPECT_EQ(Field(commands[11], "addr"), "2");
    EXPECT_EQ(Nth(scope, "reply", 11, "status"), "R");
    EXPECT_EQ(Events(scope, "flash").size(), 2u) << "at the end command and at exit";

    // Without an end command the flash is still saved when the scope is stopped.
    const std::string untouched = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/untouched.bin";
    VirtualScopeProcess idle(With({"--firmware", "bootloader", "--blocks-per-sector", "1", "--sectors",
                                   "1", "--flash-file", untouched}),
                             "loader1");
    idle.Stop();
    std::ifstream saved(untouched, std::ios::binary);
    const Bytes old{std::istreambuf_iterator<char>(saved), {}};
    ASSERT_EQ(old.size(), 2048u);
    EXPECT_EQ(old[1], 0x01);
    EXPECT_EQ(old[2047], 0xFF);
    EXPECT_EQ(Field(idle.LogLines().back(), "ev"), "exit");
}

TEST(VirtualScopeEndToEnd, UnplugHangsUpTheHostAndReplugComesBack) {
    VirtualScopeProcess scope(With({"--firmware", "bootloader"}));
    const int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd, Packet(0xFF)), 'B');
    scope.Unplug();
    EXPECT_FALSE(Exists(scope.LinkPath()));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR)) << "the open device must see a hang-up";
    std::uint8_t b;
    EXPECT_LE(read(fd, &b, 1), 0);
    close(fd);

    scope.Replug();
    const int fresh = OpenDevice(scope.LinkPath());
    ASSERT_GE(fresh, 0);
    EXPECT_EQ(Ask(fresh, Packet(0xFF)), 'B');
    close(fresh);
    EXPECT_EQ(Events(scope, "plug").size(), 2u);
    EXPECT_EQ(Events(scope, "unplug").size(), 1u);

    scope.Stop();
    EXPECT_FALSE(Exists(scope.LinkPath()));
}

TEST(VirtualScopeEndToEnd, UnplugsAfterCommandsOrBytesAndReplugsByItself) {
    VirtualScopeProcess scope(
        With({"--firmware", "bootloader", "--unplug-after-commands", "2", "--replug-after-ms", "200"}));
    int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd, Packet(0xFF)), 'B');
    EXPECT_EQ(Ask(fd, Packet(0xFF)), 'B') << "the second command is still answered";
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    close(fd);
    // It comes back under the same name.
    for (int i = 0; i < 500 && !Exists(scope.LinkPath()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd, Packet(0xFF)), 'B');
    close(fd);

    VirtualScopeProcess byBytes(With({"--firmware", "bootloader", "--unplug-after-bytes", "10"}), "bytes");
    fd = OpenDevice(byBytes.LinkPath());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd, Packet(0xFF)), 'B');
    Send(fd, Packet(0xFF));  // its fourth byte is the tenth: the device goes away mid-command
    EXPECT_TRUE(Receive(fd, 6, 500).empty());
    close(fd);
    EXPECT_FALSE(Exists(byBytes.LinkPath()));
    EXPECT_EQ(Events(byBytes, "cmd").size(), 1u);
}

TEST(VirtualScopeEndToEnd, FaultsShapeTheRepliesAndAreLogged) {
    VirtualScopeProcess scope(With({"--firmware", "bootloader", "--fault", "drop@1", "--fault",
                                    "short@2", "--fault", "status@3", "--fault", "noise@4"}));
    const int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    Send(fd, Packet(0xFF));
    EXPECT_TRUE(Receive(fd, 6, 200).empty());
    Send(fd, Packet(0xFF));
    EXPECT_EQ(Receive(fd, 6, 200), (Bytes{0x02, 0xFF, 'B'}));
    EXPECT_EQ(Ask(fd, Packet(0xFF)), 'X');
    Send(fd, Packet(0xFA));
    EXPECT_EQ(Receive(fd, 12, 500),
              (Bytes{0x02, 0xFA, 'A', 32, 128, 0x03, 0x02, 0xFD, 0x41, 0x00, 0x00, 0x03}));
    close(fd);
    scope.Stop();

    const auto replies = Events(scope, "reply");
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(Field(replies[0], "fault"), "drop");
    EXPECT_EQ(Field(replies[0], "bytes"), "0");
    EXPECT_EQ(Field(replies[1], "fault"), "short");
    EXPECT_EQ(Field(replies[1], "bytes"), "3");
    EXPECT_EQ(Field(replies[2], "status"), "X");
    EXPECT_EQ(Field(replies[3], "fault"), "noise");
    ASSERT_EQ(Events(scope, "noise").size(), 1u);
    EXPECT_EQ(Nth(scope, "noise", 0, "bytes"), "6");
}

TEST(VirtualScopeEndToEnd, ScreenFaultsCutTheFrameOrAddAStrayByte) {
    VirtualScopeProcess scope(With({"--fault", "short@1", "--fault", "status@2", "--fault", "noise@3"}));
    const int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    for (std::size_t expected : {std::size_t(4205), std::size_t(4205), std::size_t(8411)}) {
        Send(fd, kScreenRequest);
        EXPECT_EQ(Receive(fd, 9000, 300).size(), expected);
    }
    close(fd);
    scope.Stop();
    ASSERT_EQ(Events(scope, "noise").size(), 1u);
    EXPECT_EQ(Nth(scope, "noise", 0, "bytes"), "1");
    EXPECT_EQ(Nth(scope, "reply", 1, "fault"), "status");
}

TEST(VirtualScopeEndToEnd, LateReplyArrivesAfterTheDelayAndLaterCommandsWait) {
    VirtualScopeProcess scope(With({"--firmware", "bootloader", "--fault", "late@2", "--late-ms", "400"}));
    const int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd, Packet(0xFF)), 'B');
    Send(fd, Packet(0xFF));
    Send(fd, Packet(0xFA));
    EXPECT_TRUE(Receive(fd, 1, 300).empty()) << "the late reply came early";
    const Bytes both = Receive(fd, 12, 3000);
    ASSERT_EQ(both.size(), 12u);
    EXPECT_EQ(both[2], 'B');
    EXPECT_EQ(both[8], 'A') << "the command after the late one is answered after it";
    close(fd);
    const auto replies = scope.WaitForEvents("reply", 3);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(Field(replies[1], "fault"), "late");
}

TEST(VirtualScopeEndToEnd, BusyDeviceRefusesTheHostsLock) {
    VirtualScopeProcess busy(With({"--busy"}), "busy");
    EXPECT_EQ(OpenDevice(busy.LinkPath()), -2);

    VirtualScopeProcess briefly(With({"--busy-for-ms", "700"}), "briefly");
    EXPECT_EQ(OpenDevice(briefly.LinkPath()), -2);
    int fd = -2;
    for (int i = 0; i < 300 && fd < 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fd = OpenDevice(briefly.LinkPath());
    }
    ASSERT_GE(fd, 0) << "the lock must be released after --busy-for-ms";
    close(fd);
    EXPECT_EQ(OpenDevice(busy.LinkPath()), -2) << "--busy holds for the whole run";
}

TEST(VirtualScopeEndToEnd, ASecondScopeDoesNotInheritTheHostsOpenDevice) {
    VirtualScopeProcess first(kFast, "first");
    // Opened without close-on-exec, as a careless host might.
    const int fd = open(first.LinkPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    VirtualScopeProcess second(kFast, "second");
    close(fd);
    const int again = OpenDevice(first.LinkPath());
    EXPECT_GE(again, 0) << "the lock must go with the host's last descriptor";
    close(again);
}

TEST(VirtualScopeEndToEnd, PacesTheFrameAtTheThroughput) {
    // 8410 bytes at 16,820 bytes/s take half a second: when the first bytes
    // are there, most of the frame is still to come.
    VirtualScopeProcess scope({"--throughput", "16820", "--latency-ms", "0", "--picture", "pattern:full"});
    const int fd = OpenDevice(scope.LinkPath());
    ASSERT_GE(fd, 0);
    Send(fd, kScreenRequest);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 3000), 1);
    std::uint8_t buf[9000];
    const ssize_t early = read(fd, buf, sizeof buf);
    ASSERT_GT(early, 0);
    EXPECT_LT(early, 4205);
    const Bytes rest = Receive(fd, 8410 - std::size_t(early));
    EXPECT_EQ(rest.size() + std::size_t(early), 8410u);
    close(fd);
}
