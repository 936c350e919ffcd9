// The virtual scope as the host meets it: a device link to a pseudo-terminal, driven with
// plain open/read/write/flock, and the program's command line.
#include "PtyPeer.h"
#include "VirtualScopeProcess.h"

#include <QImage>

#include <cstdio>
#include <iterator>
#include <sstream>
#include <sys/file.h>

using testsupport::Field;
using testsupport::VirtualScopeProcess;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kFrame = 8410;
const Bytes kScreenRequest{0x51, 0x42, 0x0D};

// Options written as on a command line; With: for tests where the link model does not matter.
Lines Options(const std::string& line) {
    std::istringstream words(line);
    return {std::istream_iterator<std::string>(words), {}};
}
const auto With = [](const std::string& line) { return Options("--throughput 0 --latency-ms 0 " + line); };

// Runs the program to its end: exit code and what it printed.
std::pair<int, std::string> RunProgram(const std::string& arguments) {
    FILE* pipe = popen((VirtualScopeProcess::Program() + " " + arguments + " 2>&1 </dev/null").c_str(), "r");
    std::string output;
    for (int c; pipe && (c = std::fgetc(pipe)) != EOF;)
        output += char(c);
    const int status = pipe ? pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// The device opened as the driver library opens it; fd -2: somebody else holds the lock.
struct Device {
    explicit Device(const std::string& link)
        : fd(open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0)
            close(std::exchange(fd, -2));
    }
    ~Device() { close(fd); }
    // Every command is sent to an idle device, so it fits the line's buffer.
    void Send(const Bytes& b) const { EXPECT_EQ(write(fd, b.data(), b.size()), ssize_t(b.size())); }
    Bytes Read(std::size_t count, int timeoutMs = 3000) const { return ReadUpTo(fd, count, timeoutMs); }
    // Sends the packet in two pieces, split inside its header, and returns the reply's status.
    char Ask(const Bytes& packet) const {
        Send(Bytes(packet.begin(), packet.begin() + 4));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        Send(Bytes(packet.begin() + 4, packet.end()));
        const Bytes reply = Read(6);
        return reply.size() == 6 ? char(reply[2]) : 0;
    }
    int fd;
};

// A scope whose device this test holds open.
struct OpenScope : VirtualScopeProcess, Device {
    explicit OpenScope(const Lines& o) : VirtualScopeProcess(o), Device(LinkPath()) { EXPECT_GE(fd, 0); }
};

Bytes Packet(uint8_t code, unsigned address = 0, Bytes data = {}, uint8_t end = 0x03) {
    const std::size_t n = data.size();
    data.insert(data.begin(),
                {0x02, code, uint8_t(address >> 8), uint8_t(address), uint8_t(n >> 8), uint8_t(n)});
    data.push_back(end);
    return data;
}

// The scope's log lines of event ev, without their time stamps.
Lines Events(const VirtualScopeProcess& scope, const std::string& ev) {
    Lines found = scope.WaitForEvents(ev, 0, 0);
    for (std::string& line : found)
        line.erase(0, line.find(' ') + 1);
    return found;
}

// Milliseconds between two log lines' time stamps.
double Between(const std::string& from, const std::string& to) {
    return std::stod(Field(to, "t")) - std::stod(Field(from, "t"));
}

} // namespace

TEST(VirtualScopeEndToEnd, BadCommandLinesStopTheScopeBeforeTheDeviceAppears) {
    const std::pair<std::string, std::string> cases[] = {
        {"--firmware usb", "option --firmware: 'usb' is not screen or bootloader"},
        {"--sectors=256", "option --sectors: '256' is not a count 1-255"},
        {"--latency-ms=-1", "option --latency-ms: '-1' is not a time in milliseconds"},
        {"--header-fill 300", "option --header-fill: '300' is not a byte value 0-255"},
        {"--name ..", "option --name: '..' is not a usable link name"},
        {"--flash-initial new", "option --flash-initial: 'new' is not erased or old"},
        {"--unplug-after-bytes 0", "option --unplug-after-bytes: '0' is not a count of 1 or more"},
        {"--fault-rate 2", "option --fault-rate: '2' is not a share between 0 and 1"},
        {"--fault-seed x", "option --fault-seed: 'x' is not a number"},
        {"--fault drop", "fault 'drop' is not KIND@N[,N...]"},
        {"--fault-seed 1 --fault-kinds none", "fault kind 'none' is not one of drop, short,"},
        {"--bogus 1", "unknown option --bogus (see --help)"},
        {"--log", "option --log needs a value (see --help)"},
        {"--picture pattern:zebra",
         "unknown test pattern 'zebra'; known patterns: blank, full, first-pixel"}};
    for (const auto& [arguments, said] : cases) {
        const auto [code, output] = RunProgram(arguments);
        EXPECT_EQ(code, said.find("pattern") == std::string::npos ? 2 : 1) << arguments;
        EXPECT_EQ(output.rfind("virtual-scope: " + said, 0), 0u) << output;
        EXPECT_FALSE(fs::exists(usbdriver::VirtualBridgeFolder() + "/scope0"));
    }
    const auto [code, help] = RunProgram("--help");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(RunProgram("-h").second, help);
    for (const std::string& name : Options(
             "--firmware --name --log --throughput --latency-ms --picture --header-fill --blocks-per-sector "
             "--sectors --flash-file --flash-initial --erase-ms --program-ms --fault --late-ms --stall-ms "
             "--fault-seed --fault-rate --fault-kinds --unplug-after-commands --unplug-after-bytes "
             "--replug-after-ms --busy --busy-for-ms SIGUSR1 SIGUSR2 SIGINT/SIGTERM/SIGHUP"))
        EXPECT_NE(help.find(name + " "), std::string::npos) << name;
}

// A large picture makes Qt scale it on worker threads; SIGINT must still reach the scope's
// loop, not end the process on one of those threads. Four image pixels a side make one
// display pixel; transparent shows light.
TEST(VirtualScopeEndToEnd, ScreenRequestGetsOneRawFrameAndSigintRemovesTheLink) {
    QImage image(960, 1120, QImage::Format_ARGB32);
    image.fill(qRgba(0, 0, 0, 0));
    for (const auto& [x, y, colour] :
         {std::tuple{0, 0, qRgb(0, 0, 0)},  // top left: line 239, pixels 0-1
          {952, 1112, qRgb(100, 100, 100)}, // darker than middle grey: line 0, 278-279
          {400, 400, qRgb(160, 160, 160)}}) // lighter than middle grey: stays light
        for (int d = 0; d < 64; ++d)
            image.setPixel(x + d % 8, y + d / 8, colour);
    const std::string file = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/corners.png";
    ASSERT_TRUE(image.save(QString::fromStdString(file)));
    OpenScope scope(With("--picture " + file + " --header-fill 0x0D"));
    EXPECT_EQ(fs::status(usbdriver::VirtualBridgeFolder()).permissions(), fs::perms::owner_all);
    scope.Send({0x00, 0x51, 0x51, 0x42}); // two stray bytes, then a request in two pieces
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    scope.Send({0x0D});
    const Bytes frame = scope.Read(kFrame + 1, 500);
    ASSERT_EQ(frame.size(), kFrame) << "one request, one frame";
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 10), Bytes(10, 0x0D)) << "0x0D must pass untranslated";
    std::vector<std::pair<std::size_t, int>> dark; // each non-zero picture byte: where, and its value
    for (std::size_t i = 10; i < frame.size(); ++i)
        if (frame[i])
            dark.emplace_back(i, frame[i]);
    EXPECT_EQ(dark, (decltype(dark){
                        {10 + 34, 3}, {10 + 35 + 34, 3}, {10 + 238 * 35, 0xC0}, {10 + 239 * 35, 0xC0}}));
    EXPECT_EQ(scope.Stop(SIGINT), 0);
    EXPECT_FALSE(fs::is_symlink(scope.LinkPath()));
    EXPECT_EQ(Events(scope, "exit").size(), 1u);
    EXPECT_EQ(Events(scope, "ignored"), Lines{"ev=ignored bytes=2"});
    EXPECT_EQ(Events(scope, "cmd"), Lines{"ev=cmd n=1 kind=screen"});
}

// Each test pattern frame by frame, to a host that reads only once the scope has had to
// wait for it (more frames than the line holds).
TEST(VirtualScopeEndToEnd, EveryPictureGivesItsFramesToASlowHost) {
    using Rule = int (*)(std::size_t i, std::uint64_t n); // byte i of frame n; picture bytes from 10
    const std::pair<const char*, Rule> pictures[] = {
        {"pattern:blank", [](auto, auto) { return 0; }},
        {"pattern:full", [](auto i, auto) { return i < 10 ? 0 : 0xFF; }},
        {"pattern:first-pixel", [](auto i, auto) { return i == 10 ? 0x80 : 0; }},
        {"pattern:line1-first", [](auto i, auto) { return i == 45 ? 0x80 : 0; }},
        {"pattern:last-pixel", [](auto i, auto) { return i == 8409 ? 0x01 : 0; }},
        {"pattern:checker", [](auto i, auto) { return i < 10 ? 0 : ((i - 10) / 35 % 2 ? 0xAA : 0x55); }},
        // The frame number in header bytes 0-3, and column n - 1 (line 240 - n) dark.
        {"pattern:counter",
         [](std::size_t i, std::uint64_t n) {
             return i < 4 ? int(n >> (24 - 8 * i) & 0xFF) : i >= 10 && (i - 10) / 35 == 240 - n ? 0xFF : 0;
         }},
        // Every line: the frame number, big-endian, then its complement, repeated.
        {"pattern:sequence",
         [](std::size_t i, std::uint64_t n) {
             const std::size_t at = (i - 10) % 35;
             return i < 10 ? 0 : int(((at / 4 % 2) ? ~n : n) >> (24 - 8 * (at % 4)) & 0xFF);
         }},
        {"demo", nullptr}};
    constexpr std::uint64_t kFrames = 12;
    for (const auto& [picture, rule] : pictures) {
        SCOPED_TRACE(picture);
        OpenScope scope(With(std::string("--picture ") + picture));
        for (std::uint64_t n = 0; n < kFrames; ++n)
            scope.Send(kScreenRequest);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const Bytes got = scope.Read(kFrames * kFrame + 1, 100);
        ASSERT_EQ(got.size(), kFrames * kFrame);
        for (std::size_t i = 0; rule && i < got.size(); ++i)
            ASSERT_EQ(got[i], rule(i % kFrame, i / kFrame + 1))
                << "frame " << i / kFrame + 1 << " byte " << i % kFrame;
        if (!rule) { // a live trace on a sparse grid: neither empty nor mostly dark, and moving
            int darkPixels = 0;
            for (std::size_t i = 10; i < kFrame; ++i)
                darkPixels += __builtin_popcount(got[i]);
            EXPECT_TRUE(darkPixels > 1500 && darkPixels < 240 * 280 / 5) << darkPixels;
            EXPECT_FALSE(std::equal(got.begin(), got.begin() + kFrame, got.begin() + kFrame));
        }
    }
}

// Refused and broken commands must leave the flash alone: the file shows it.
TEST(VirtualScopeEndToEnd, DownloadEndsUpInTheFlashFile) {
    // A folder of its own, holding an old file the download must replace.
    const fs::path file = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "flash/flash.bin";
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "stale contents";
    OpenScope scope(With("--firmware bootloader --blocks-per-sector 2 --sectors 2 --erase-ms 0 "
                         "--program-ms 0 --flash-file " +
                         file.string()));
    scope.Send(Packet(0xFA));
    EXPECT_EQ(scope.Read(6), (Bytes{0x02, 0xFA, 'A', 2, 2, 0x03}));
    scope.Send({0x41, 0x00, 0x03}); // bytes outside a packet are skipped
    // Data full of start and end markers is taken by its length, not by value.
    Bytes image(3 * 2048);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = std::uint8_t(i % 5 == 0 ? 0x02 : (i % 5 == 1 ? 0x03 : i * 31));
    // A step: code, address, data (none, block 0-2 of the image, else that many zero bytes, or
    // none and a wrong end marker), and the reply's status. A length over 2048 is refused at once.
    constexpr int kNone = -1, kBadEnd = -2;
    const std::tuple<std::uint8_t, unsigned, int, char> steps[] = {
        {0xFF, 0, kNone, 'B'},   {0xFC, 0, kNone, 'C'}, {0xFD, 0, 0, 'P'},     {0xFE, 0, kNone, 'A'},
        {0xFC, 0, kNone, 'A'},   {0xFD, 0, 2047, 'L'},  {0xFD, 0, kNone, 'L'}, {0xFD, 0, 0, 'A'},
        {0xFD, 0, 1, 'P'},       {0xFC, 0, kNone, 'C'}, {0xFD, 1, 1, 'A'},     {0xFE, 1, kNone, 'A'},
        {0xFE, 0, kBadEnd, 'F'}, {0xFD, 2, 2, 'A'},     {0xFE, 2, kNone, 'R'}, {0xFC, 2, kNone, 'R'},
        {0xFD, 4, 0, 'R'},       {0x10, 0, kNone, 'U'}, {0xFD, 3, 2049, 'F'},  {0xFB, 0, kNone, 'A'}};
    for (const auto& [code, address, data, status] : steps) {
        const auto block = image.begin() + std::clamp(data, 0, 2) * 2048;
        const Bytes payload = data < 0 ? Bytes{} : (data < 3 ? Bytes(block, block + 2048) : Bytes(data));
        EXPECT_EQ(scope.Ask(Packet(code, address, payload, data == kBadEnd ? 0x04 : 0x03)), status)
            << "command " << int(code) << " at " << address;
    }
    // The reply to the end command comes after the whole file is in place, written beside it
    // under another name and renamed: nothing else is left. Block 3: erased, never programmed.
    std::ifstream in(file, std::ios::binary);
    image.resize(4 * 2048, 0xFF);
    EXPECT_TRUE(Bytes(std::istreambuf_iterator<char>(in), {}) == image) << "the flash file differs";
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 1);
    fs::remove(file);
    EXPECT_EQ(scope.Stop(SIGHUP), 0); // which writes the flash file again
    EXPECT_EQ(Events(scope, "cmd").at(11), "ev=cmd n=12 code=0xFD addr=1 len=2048");
    EXPECT_EQ(fs::file_size(file), 4u * 2048);
    std::size_t ignored = 0;
    for (const std::string& line : Events(scope, "ignored"))
        ignored += std::stoul(Field(line, "bytes"));
    EXPECT_EQ(ignored, 3u + 2049u + 1u);
}

// Each delay of the link model, from the host's last command byte to the reply's last
// byte: defaults, and each set on its own.
TEST(VirtualScopeEndToEnd, LinkModelDelaysEachReply) {
    const Bytes erase = Packet(0xFE, 0), program = Packet(0xFD, 0, Bytes(2048, 0x5A));
    const std::string boot = "--firmware bootloader --flash-initial erased ";
    const std::tuple<Lines, Bytes, std::size_t, double> cases[] = {
        {{}, kScreenRequest, kFrame, 1 + 8}, // 1 ms latency, 1000 bytes in each 1 ms slot
        {Options(boot), erase, 6, 1 + 20},   // 1 ms latency, 20 ms per sector
        {Options(boot), program, 6, 1 + 2},  // 1 ms latency, 2 ms per block
        {With("--throughput 50000"), kScreenRequest, kFrame, 168},
        {Options("--throughput 0 --latency-ms 60"), kScreenRequest, kFrame, 60},
        {With(boot + "--erase-ms 100"), erase, 6, 100},
        {With(boot + "--program-ms 80"), program, 6, 80},
        {With(boot + "--erase-ms 0"), erase, 6, 0}};
    for (const auto& [options, command, replyBytes, ms] : cases) {
        SCOPED_TRACE(testing::PrintToString(options));
        OpenScope scope(options);
        const auto start = Clock::now();
        scope.Send(command);
        const Bytes reply = scope.Read(replyBytes);
        const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        EXPECT_TRUE(reply.size() == replyBytes && (replyBytes != 6 || reply[2] == 'A')) << reply.size();
        EXPECT_TRUE(took >= ms && took < ms + 100) << took;
    }
}

// Gone mid-command after --unplug-after-bytes, after the last of --unplug-after-commands (still
// answered), or by SIGUSR1, each once; back by itself after --replug-after-ms. The host sees a hang-up.
TEST(VirtualScopeEndToEnd, UnplugsAfterBytesCommandsOrSignalAndReplugs) {
    VirtualScopeProcess scope(With("--firmware bootloader --unplug-after-bytes 10 --unplug-after-commands 3 "
                                   "--replug-after-ms 300"));
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(scopelauncher::WaitUntil(2000, [&] { return scope.Plugged(); }));
        const Device device(scope.LinkPath());
        ASSERT_GE(device.fd, 0);
        EXPECT_EQ(device.Ask(Packet(0xFF)), 'B');
        if (round == 0)
            device.Send(Packet(0xFF)); // its third byte is the tenth: the device goes away mid-command
        else if (round == 1)
            EXPECT_EQ(device.Ask(Packet(0xFF)), 'B') << "command 3, the last, is still answered";
        else
            scope.Unplug(); // the fixture checks that the link goes
        pollfd p{device.fd, POLLIN, 0};
        EXPECT_TRUE(poll(&p, 1, 2000) == 1 && (p.revents & (POLLHUP | POLLERR)));
        EXPECT_LE(read(device.fd, &p, 1), 0);
    }
    EXPECT_EQ(Events(scope, "cmd").size(), 4u) << "the cut command was never taken";
    const Lines plugs = scope.WaitForEvents("plug", 4), unplugs = scope.WaitForEvents("unplug", 3);
    ASSERT_TRUE(plugs.size() == 4 && unplugs.size() == 3);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(Between(unplugs[i], plugs[i + 1]) >= 300 && Between(unplugs[i], plugs[i + 1]) < 400);
}

TEST(VirtualScopeEndToEnd, EachFaultShapesTheReplyOnBothFirmwares) {
    for (const bool boot : {true, false}) {
        SCOPED_TRACE(boot ? "bootloader" : "screen");
        OpenScope scope(With(std::string("--firmware ") + (boot ? "bootloader" : "screen") +
                             " --picture pattern:full --fault drop@1 --fault short@2 --fault status@3 "
                             "--fault noise@4 --fault late@5 --late-ms 400 --fault stall@7 --stall-ms 400"));
        const Bytes request = boot ? Packet(0xFF) : kScreenRequest;
        Bytes whole = boot ? Bytes{0x02, 0xFF, 'B', 0, 0, 0x03} : Bytes(10, 0x00);
        whole.resize(boot ? 6 : kFrame, 0xFF);
        const std::size_t half = whole.size() / 2;
        const Bytes cut(whole.begin(), whole.begin() + (boot ? 3 : 4205));
        const Bytes flagged = boot ? Bytes{0x02, 0xFF, 'X', 0, 0, 0x03} : cut;
        Bytes noisy = boot ? Bytes{0x02, 0xFD, 0x41, 0x00, 0x00, 0x03} : Bytes{0x55}, twice = whole;
        noisy.insert(noisy.begin(), whole.begin(), whole.end()); // the reply, then the noise
        twice.insert(twice.end(), whole.begin(), whole.end());
        for (const Bytes& expected : {Bytes{}, cut, flagged, noisy}) {
            scope.Send(request);
            const Bytes got = scope.Read(expected.size() + 1, 200);
            EXPECT_TRUE(got == expected) << got.size() << " bytes, not " << expected.size();
        }
        // The late reply comes after --late-ms, and the command after it waits.
        scope.Send(request);
        scope.Send(request);
        EXPECT_TRUE(scope.Read(1, 300).empty()) << "the late reply came early";
        Bytes got = scope.Read(twice.size() + 1, 500);
        EXPECT_TRUE(got == twice) << got.size() << " bytes, not " << twice.size();
        // A stalled reply: half, a pause of --stall-ms, then the rest.
        scope.Send(request);
        EXPECT_EQ(scope.Read(whole.size(), 300).size(), half);
        got = scope.Read(whole.size() - half + 1, 200);
        EXPECT_TRUE(got == Bytes(whole.begin() + std::ptrdiff_t(half), whole.end()))
            << got.size() << " bytes";
        EXPECT_EQ(scope.Stop(SIGTERM), 0);

        const char* kinds[] = {"drop", "short", "status", "noise", "late", "none", "stall"};
        const std::size_t sizes[] = {
            0, cut.size(), flagged.size(), whole.size(), whole.size(), whole.size(), whole.size() - half};
        Lines replies;
        for (std::size_t i = 0; i < 7; ++i)
            replies.push_back("ev=reply n=" + std::to_string(i + 1) + " bytes=" + std::to_string(sizes[i]) +
                              " status=" + (boot ? "-BXBBBB" : "-------")[i] + " fault=" + kinds[i]);
        EXPECT_EQ(Events(scope, "reply"), replies);
        EXPECT_EQ(Events(scope, "noise"), Lines{boot ? "ev=noise bytes=6" : "ev=noise bytes=1"});
        EXPECT_EQ(Events(scope, "stall"), Lines{"ev=stall n=7 bytes=" + std::to_string(half)});
    }
}

// The faults of 60 hellos under a seeded schedule, as the log names them: the same for the
// same settings, about the rate asked for (one command in ten by default), and explicit
// faults win; the kinds drawn are the ones named.
TEST(VirtualScopeEndToEnd, SeededFaultScheduleDependsOnlyOnItsSettings) {
    const auto faults = [](const std::string& options) {
        OpenScope scope(With("--firmware bootloader --late-ms 0 " + options));
        for (int i = 0; i < 60; ++i)
            scope.Send(Packet(0xFF));
        Lines found(60); // by command number: a dropped reply is logged at once, the others once sent
        for (const std::string& line : scope.WaitForEvents("reply", 60))
            found.at(std::stoul(Field(line, "n")) - 1) = Field(line, "fault");
        return found;
    };
    const auto count = [](const Lines& found, const char* kind) { return std::ranges::count(found, kind); };
    const Lines a = faults("--fault-seed 7 --fault-rate 0.5");
    EXPECT_EQ(faults("--fault-seed 7 --fault-rate 0.5"), a);
    EXPECT_NE(faults("--fault-seed 8 --fault-rate 0.5"), a);
    EXPECT_TRUE(count(a, "none") > 15 && count(a, "none") < 45 && count(a, "drop") && count(a, "short") &&
                count(a, "status") && count(a, "late") && count(a, "noise") && !count(a, "stall"))
        << testing::PrintToString(a);
    const Lines rare = faults("--fault-seed 7");
    EXPECT_TRUE(count(rare, "none") >= 45 && count(rare, "none") < 60) << testing::PrintToString(rare);
    const Lines some = faults("--fault-seed 7 --fault-rate 1 --fault-kinds noise,short --fault late@1");
    EXPECT_EQ(some.at(0), "late");
    EXPECT_TRUE(count(some, "noise") > 10 && count(some, "short") > 10 &&
                count(some, "noise") + count(some, "short") == 59);
}

// The host's lock is refused for --busy-for-ms (--busy, for good, is met by Haldrin's tests).
TEST(VirtualScopeEndToEnd, BusyDeviceRefusesTheHostsLockForAWhile) {
    VirtualScopeProcess scope(With("--busy-for-ms 300"));
    EXPECT_EQ(Device(scope.LinkPath()).fd, -2);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GE(Device(scope.LinkPath()).fd, 0) << "still busy after 500 ms";
    const Lines busy = scope.WaitForEvents("busy", 2, 0);
    ASSERT_EQ(busy.size(), 2u);
    EXPECT_GE(Between(busy[0], busy[1]), 300);
}
