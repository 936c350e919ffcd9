// kernel-guest-check: runs inside the QEMU guest against the real ftdi_sio
// tty, through our driver library, and prints one "CHECK <name> PASS|FAIL
// <detail>" line per check for the host, and SYNC lines where the host must
// act (see run-kernel-test.sh). The guest's init script calls it once per
// step, as root or as an ordinary user.
#include "ftd2xx.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <linux/serial.h>
#include <linux/usbdevice_fs.h>
#include <map>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using std::to_string;

// The one bridge the guest has: QEMU's FTDI-compatible serial device.
constexpr const char* kNode = "/dev/ttyUSB0";
constexpr const char* kLatencyTimer = "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer";
const Bytes kScreenRequest = {0x51, 0x42, 0x0D};
constexpr size_t kFrameSize = 8410;

// Standard output is line-buffered (see main), so that each line reaches the host whole and at once.
bool Report(const std::string& name, bool pass, const std::string& detail) {
    std::printf("CHECK %s %s %s\n", name.c_str(), pass ? "PASS" : "FAIL", detail.c_str());
    return pass;
}
double MsSince(Clock::time_point start, Clock::time_point end = Clock::now()) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}
std::string Ms(Clock::time_point start, Clock::time_point end = Clock::now()) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", MsSince(start, end));
    return text;
}
std::string FirstLine(const std::string& path) {
    std::string line;
    std::getline(std::ifstream(path), line);
    return line;
}
std::string Who() {
    return "uid " + to_string(getuid()) + " gid " + to_string(getgid());
}
// Folder of the tty's USB device in sysfs, empty while there is none: ttyUSB0 sits on the
// interface (1-1:1.0), which sits on the USB device.
std::string UsbDeviceFolder() {
    char resolved[PATH_MAX];
    const std::string folder = realpath("/sys/class/tty/ttyUSB0/device", resolved) ? resolved : "";
    return folder.empty() ? folder : folder.substr(0, folder.rfind('/', folder.rfind('/') - 1));
}
DWORD DeviceCount() {
    DWORD count = 0;
    return FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) == FT_OK ? count : 0xFFFFFFFFu;
}
// Polls condition every millisecond until it holds or timeoutMs passed.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(1)))
        if (Clock::now() >= deadline)
            return false;
    return true;
}

// FT_Open in another process of this program (try-open): its status when it said exactly one
// line on standard error (without its line break in said), else -1.
int OpenElsewhere(std::string& said) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDERR_FILENO);
        execl("/proc/self/exe", "/proc/self/exe", "try-open", nullptr);
        _exit(127);
    }
    close(out[1]);
    char chunk[256];
    for (ssize_t got; (got = read(out[0], chunk, sizeof chunk)) > 0;)
        said.append(chunk, static_cast<size_t>(got));
    close(out[0]);
    int status = 0;
    const bool exited = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
    const bool oneLine = !said.empty() && said.find('\n') == said.size() - 1;
    if (oneLine)
        said.pop_back();
    return exited && oneLine ? WEXITSTATUS(status) : -1;
}

// Check name: opens device 0 and makes count round trips (read time-out 2 s) of command(i), each
// reply replySize bytes and equal to expected unless that is empty; reports, after about, the
// spread of their times, or the first that went wrong.
bool RoundTrips(const std::string& name, const std::string& about, int count,
                const std::function<Bytes(int)>& command, size_t replySize, const Bytes& expected = {}) {
    FT_HANDLE handle = nullptr;
    if (const FT_STATUS status = FT_Open(0, &handle); status != FT_OK)
        return Report(name, false, about + "FT_Open " + to_string(status));
    const std::unique_ptr<void, FT_STATUS (*)(FT_HANDLE)> closer(handle, FT_Close);
    FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
    FT_SetTimeouts(handle, 2000, 2000);
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        Bytes sent = command(i), reply(replySize);
        DWORD written = 0, got = 0;
        const auto start = Clock::now();
        FT_STATUS status = FT_Write(handle, sent.data(), static_cast<DWORD>(sent.size()), &written);
        if (status == FT_OK && written == sent.size())
            status = FT_Read(handle, reply.data(), static_cast<DWORD>(replySize), &got);
        times.push_back(MsSince(start));
        reply.resize(got);
        if (status != FT_OK || got != replySize || (!expected.empty() && reply != expected))
            return Report(name, false,
                          about + "round trip " + to_string(i) + ": status " + to_string(status) + ", " +
                              to_string(got) + " bytes" +
                              (got == replySize ? ", not the expected ones" : ""));
    }
    std::sort(times.begin(), times.end());
    char text[96];
    std::snprintf(text, sizeof text, "min/median/max %.2f/%.2f/%.2f ms over %d", times.front(),
                  times[times.size() / 2], times.back(), count);
    return Report(name, true, about + text);
}

bool List() {
    const DWORD count = DeviceCount();
    char description[64] = {}, serial[64] = {};
    const bool listed =
        FT_ListDevices(nullptr, description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) == FT_OK &&
        FT_ListDevices(nullptr, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) == FT_OK;
    const std::string vendor = FirstLine(UsbDeviceFolder() + "/idVendor");
    const std::string product = FirstLine(UsbDeviceFolder() + "/product");
    return Report("list",
                  count == 1 && listed && vendor == "0403" && !product.empty() && product == description &&
                      std::string(serial) == "ttyUSB0",
                  "count " + to_string(count) + ", device 0 '" + description + "' (" + serial +
                      "), sysfs vendor " + vendor + " product '" + product + "'");
}

// Puts the latency timer back to the bridge's power-on 16 ms and clears the
// low-latency flag that an earlier open left on the port (root only).
bool ResetLatency() {
    const int fd = open(kNode, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    serial_struct serial{};
    bool cleared = false;
    if (fd >= 0 && ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags &= ~ASYNC_LOW_LATENCY;
        cleared = ioctl(fd, TIOCSSERIAL, &serial) == 0;
    }
    close(fd);
    std::ofstream(kLatencyTimer) << "16";
    const std::string now = FirstLine(kLatencyTimer);
    return (cleared && now == "16") ||
           Report("latency-reset", false, "flag cleared " + to_string(cleared) + ", timer '" + now + "'");
}

// FT_Open's low-latency request, seen in the driver's latency_timer attribute.
bool Latency(const std::string& name) {
    const std::string before = FirstLine(kLatencyTimer);
    FT_HANDLE handle = nullptr;
    const FT_STATUS status = FT_Open(0, &handle);
    const std::string after = FirstLine(kLatencyTimer);
    FT_Close(handle);
    return Report(name, status == FT_OK && after == "1",
                  Who() + ": FT_Open " + to_string(status) + ", latency timer " + before + " ms before, " +
                      after + " ms after");
}

// What the last open left in the bridge itself, read by root through usbfs after the check named
// name (ordinary users may not send requests to the device).
bool LatencyRegister(const std::string& name) {
    const std::string usb = UsbDeviceFolder();
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::atoi(FirstLine(usb + "/busnum").c_str()),
                  std::atoi(FirstLine(usb + "/devnum").c_str()));
    const int fd = open(node, O_RDWR | O_CLOEXEC);
    uint8_t value = 0;
    // Vendor request 0x0A (get latency timer), device to host: type, request, value, index, length,
    // time-out, data.
    usbdevfs_ctrltransfer transfer{0xC0, 0x0A, 0, 0, 1, 1000, &value};
    const bool read = fd >= 0 && ioctl(fd, USBDEVFS_CONTROL, &transfer) == 1;
    close(fd);
    return Report(name + "-bridge", read && value == 1,
                  read ? "the bridge's latency register holds " + to_string(value) + " ms"
                       : std::string("cannot read the latency register through ") + node);
}

// Holds the device open (with an exclusive flock that /proc/locks lists)
// while a second process of this program tries too.
bool SecondOpen() {
    FT_HANDLE handle = nullptr;
    if (FT_Open(0, &handle) != FT_OK)
        return Report("second-open", false, "the first open failed");
    std::ifstream locks("/proc/locks");
    bool locked = false;
    for (std::string line; std::getline(locks, line);)
        locked |= line.find("FLOCK") != std::string::npos && line.find("WRITE") != std::string::npos &&
                  line.find(" " + to_string(getpid()) + " ") != std::string::npos;
    std::string said;
    const int status = OpenElsewhere(said);
    FT_Close(handle);
    const std::string holder = "pid " + to_string(getpid()) + " (" + FirstLine("/proc/self/comm") + ")";
    return Report("second-open",
                  locked && status == FT_DEVICE_NOT_OPENED && said.find(holder) != std::string::npos,
                  std::string(locked ? "flock listed in /proc/locks" : "no flock in /proc/locks") +
                      ", second open status " + to_string(status) + ", holder '" + holder + "': " + said);
}

// An ordinary user on a node that no group may open.
bool Denied() {
    std::string said;
    const int status = OpenElsewhere(said);
    return Report("permission-denied",
                  status == FT_DEVICE_NOT_OPENED && said.find("permission denied") != std::string::npos &&
                      said.find("61-automotive-scope-uaccess.rules") != std::string::npos,
                  Who() + ": FT_Open " + to_string(status) + ": " + said);
}

// Boot-loader firmware: hello commands and 2048-byte block programs. A packet
// is 02, code, block number, data length, data, 03.
bool BootLoaderRoundTrips() {
    const auto packet = [](uint8_t code, int block, size_t length) {
        Bytes bytes{0x02, code, uint8_t(block >> 8), uint8_t(block), uint8_t(length >> 8), uint8_t(length)};
        bytes.resize(6 + length, uint8_t(0x5A + block));
        bytes.push_back(0x03);
        return bytes;
    };
    const bool hellos = RoundTrips("hello-round-trip", "7-byte hello, 6-byte reply: ", 20,
                                   [&](int) { return packet(0xFF, 0, 0); }, 6, {0x02, 0xFF, 'B', 0, 0, 0x03});
    return RoundTrips("block-round-trip", "2055-byte program command, 6-byte reply: ", 8,
                      [&](int i) { return packet(0xFD, i, 2048); }, 6, {0x02, 0xFD, 'A', 0, 0, 0x03}) &&
           hellos;
}

// Asks the host to join the screen firmware instead, which the guest sees as
// an unplug and a plug: waits for a USB device of another number, then
// requests frames.
bool ScreenRoundTrips() {
    const std::string before = FirstLine(UsbDeviceFolder() + "/devnum");
    std::puts("SYNC screen");
    const auto start = Clock::now();
    const auto swapped = [&] {
        const std::string folder = UsbDeviceFolder();
        return !folder.empty() && FirstLine(folder + "/devnum") != before && DeviceCount() == 1;
    };
    if (!WaitFor(swapped, 20000))
        return Report("screen-round-trip", false, "no new device within 20 s");
    return RoundTrips(
        "screen-round-trip",
        "device back " + Ms(start) + " after the request; 3-byte request, 8410-byte frame: ", 10,
        [](int) { return kScreenRequest; }, kFrameSize);
}

// Unplug during a blocked read, timed from the moment the kernel hung the tty
// up, as a descriptor of our own that the library knows nothing of sees it;
// then plug in again and reopen.
bool Hotplug() {
    const int watched = open(kNode, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    FT_HANDLE handle = nullptr;
    FT_STATUS status = FT_Open(0, &handle);
    if (status != FT_OK)
        return Report("unplug-read", false, "FT_Open " + to_string(status));
    // The screen firmware sends nothing unasked: without a time-out the read blocks until the device goes.
    FT_SetTimeouts(handle, 0, 0);
    auto reader = std::async(std::launch::async, [&] {
        uint8_t byte = 0;
        DWORD got = 0;
        status = FT_Read(handle, &byte, 1, &got);
        const auto returned = Clock::now();
        std::puts("EVENT read returned");
        return returned;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::puts("SYNC unplug");
    const auto asked = Clock::now();
    bool hungUp = false;
    for (pollfd item{watched, POLLIN, 0}; !hungUp && MsSince(asked) < 20000;)
        hungUp = poll(&item, 1, 1000) > 0 && (item.revents & (POLLHUP | POLLERR));
    const auto hangupAt = Clock::now();
    if (reader.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        Report("unplug-read", false, "FT_Read still blocked 20 s after the unplug request");
        _exit(1);
    }
    const auto returnedAt = reader.get();
    const bool listedNone = WaitFor([] { return DeviceCount() == 0; }, 3000);
    const auto countedNone = Clock::now();
    FT_Close(handle);
    close(watched);
    const auto since = [&](Clock::time_point at) {
        return hungUp ? Ms(hangupAt, at) + " after the tty's hang-up" : "(no hang-up seen)";
    };
    const bool read = Report(
        "unplug-read", status != FT_OK && hungUp && returnedAt - hangupAt <= std::chrono::milliseconds(100),
        "FT_Read returned status " + to_string(status) + " " + since(returnedAt));
    const bool count =
        Report("unplug-count", listedNone, "count " + to_string(DeviceCount()) + " " + since(countedNone));
    std::puts("SYNC plug");
    const auto start = Clock::now();
    if (!WaitFor([] { return DeviceCount() == 1; }, 20000))
        return Report("replug", false, "count still " + to_string(DeviceCount()) + " after 20 s");
    return RoundTrips(
               "replug", "listed again " + Ms(start) + " after the request; reopened for one frame: ", 1,
               [](int) { return kScreenRequest; }, kFrameSize) &&
           read && count;
}
} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string step = argc > 1 ? argv[1] : "", name = argc > 2 ? argv[2] : "";
    const std::map<std::string, std::function<bool()>> steps{
        {"list", List},
        {"reset-latency", ResetLatency},
        {"latency", [&] { return Latency(name); }},
        {"latency-register", [&] { return LatencyRegister(name); }},
        {"second-open", SecondOpen},
        {"denied", Denied},
        {"boot-loader", BootLoaderRoundTrips},
        {"screen", ScreenRoundTrips},
        {"hotplug", Hotplug},
    };
    if (const auto found = steps.find(step); found != steps.end())
        return found->second() ? 0 : 1;
    if (step == "try-open") { // the other process of OpenElsewhere: its exit status is FT_Open's
        FT_HANDLE handle = nullptr;
        const FT_STATUS status = FT_Open(0, &handle);
        FT_Close(handle);
        return static_cast<int>(status);
    }
    std::fprintf(stderr, "usage: %s STEP [CHECK NAME, for latency and latency-register]\n", argv[0]);
    return 2;
}
