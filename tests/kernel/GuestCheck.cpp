// kernel-guest-check: runs inside the QEMU guest against the real ftdi_sio
// tty, through our driver library, and prints one "CHECK <name> PASS|FAIL
// <detail>" line per check for the host, and SYNC lines where the host must
// act (see run-kernel-test.sh). The guest's init script calls it once per
// step, as root or as an ordinary user.
#include "ScopeLauncher.h"
#include "ftd2xx.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <future>
#include <linux/serial.h>
#include <linux/usbdevice_fs.h>
#include <map>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>

namespace {
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using scopelauncher::WaitUntil;

// The one bridge the guest has: QEMU's FTDI-compatible serial device.
constexpr const char* kNode = "/dev/ttyUSB0";
constexpr const char* kLatencyTimer = "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer";
const Bytes kScreenRequest = {0x51, 0x42, 0x0D};
constexpr size_t kFrameSize = 8410;

// One printf, of a line-buffered standard output (see main), so that the line reaches the host whole.
[[gnu::format(printf, 3, 4)]] bool Report(const std::string& name, bool pass, const char* format, ...) {
    char detail[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(detail, sizeof detail, format, args);
    va_end(args);
    std::printf("CHECK %s %s %s\n", name.c_str(), pass ? "PASS" : "FAIL", detail);
    return pass;
}
double MsSince(Clock::time_point start, Clock::time_point end = Clock::now()) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}
std::string FirstLine(const std::string& path) {
    std::string line;
    std::getline(std::ifstream(path), line);
    return line;
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

// FT_Open in another process of this program (try-open): its status when it said exactly one
// line on standard error (without its line break in said), else -1.
int OpenElsewhere(std::string& said) {
    FILE* out = popen(("/proc/" + std::to_string(getpid()) + "/exe try-open 2>&1 >/dev/null").c_str(), "r");
    char chunk[256];
    for (size_t got; out && (got = std::fread(chunk, 1, sizeof chunk, out)) > 0;)
        said.append(chunk, got);
    const int status = out ? pclose(out) : -1;
    const bool oneLine = !said.empty() && said.find('\n') == said.size() - 1 && (said.pop_back(), true);
    return status != -1 && WIFEXITED(status) && oneLine ? WEXITSTATUS(status) : -1;
}

// Check name: opens device 0 and makes count round trips (read time-out 2 s) of command(i), each
// reply replySize bytes and equal to expected unless that is empty; reports, after about, the
// spread of their times, or the first that went wrong.
bool RoundTrips(const std::string& name, const std::string& about, int count,
                const std::function<Bytes(int)>& command, size_t replySize, const Bytes& expected = {}) {
    FT_HANDLE handle = nullptr;
    if (const FT_STATUS status = FT_Open(0, &handle); status != FT_OK)
        return Report(name, false, "%sFT_Open %u", about.c_str(), status);
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
            return Report(name, false, "%sround trip %d: status %u, %u bytes%s", about.c_str(), i, status,
                          got, got == replySize ? ", not the expected ones" : "");
    }
    std::ranges::sort(times);
    return Report(name, true, "%smin/median/max %.2f/%.2f/%.2f ms over %d", about.c_str(), times.front(),
                  times[times.size() / 2], times.back(), count);
}

bool List() {
    const DWORD count = DeviceCount();
    char description[64] = {}, serial[64] = {};
    const bool listed =
        FT_ListDevices(nullptr, description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) == FT_OK &&
        FT_ListDevices(nullptr, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) == FT_OK;
    const std::string usb = UsbDeviceFolder(), vendor = FirstLine(usb + "/idVendor"),
                      product = FirstLine(usb + "/product");
    return Report("list",
                  count == 1 && listed && vendor == "0403" && !product.empty() && product == description &&
                      std::string(serial) == "ttyUSB0",
                  "count %u, device 0 '%s' (%s), sysfs vendor %s product '%s'", count, description, serial,
                  vendor.c_str(), product.c_str());
}

// Puts the latency timer back to the bridge's power-on 16 ms and clears the
// low-latency flag that an earlier open left on the port (root only).
bool ResetLatency() {
    const int fd = open(kNode, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    serial_struct serial{};
    const bool cleared = fd >= 0 && ioctl(fd, TIOCGSERIAL, &serial) == 0 &&
                         (serial.flags &= ~ASYNC_LOW_LATENCY, ioctl(fd, TIOCSSERIAL, &serial) == 0);
    close(fd);
    std::ofstream(kLatencyTimer) << "16";
    const std::string now = FirstLine(kLatencyTimer);
    return (cleared && now == "16") ||
           Report("latency-reset", false, "flag cleared %d, timer '%s'", cleared, now.c_str());
}

// FT_Open's low-latency request, seen in the driver's latency_timer attribute.
bool Latency(const std::string& name) {
    const std::string before = FirstLine(kLatencyTimer);
    FT_HANDLE handle = nullptr;
    const FT_STATUS status = FT_Open(0, &handle);
    const std::string after = FirstLine(kLatencyTimer);
    FT_Close(handle);
    return Report(name, status == FT_OK && after == "1",
                  "uid %u gid %u: FT_Open %u, latency timer %s ms before, %s ms after", getuid(), getgid(),
                  status, before.c_str(), after.c_str());
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
                  "the bridge's latency register, read through %s: %s %d ms", node,
                  read ? "holds" : "CANNOT BE READ,", value);
}

// Holds the device open (with an exclusive flock that /proc/locks lists)
// while a second process of this program tries too.
bool SecondOpen() {
    FT_HANDLE handle = nullptr;
    if (FT_Open(0, &handle) != FT_OK)
        return Report("second-open", false, "the first open failed");
    const std::string pid = std::to_string(getpid()),
                      holder = "pid " + pid + " (" + FirstLine("/proc/self/comm") + ")";
    std::ifstream locks("/proc/locks");
    bool locked = false;
    for (std::string line; std::getline(locks, line);)
        locked |= line.find("FLOCK") != std::string::npos && line.find("WRITE") != std::string::npos &&
                  line.find(" " + pid + " ") != std::string::npos;
    std::string said;
    const int status = OpenElsewhere(said);
    FT_Close(handle);
    return Report("second-open",
                  locked && status == FT_DEVICE_NOT_OPENED && said.find(holder) != std::string::npos,
                  "flock %s /proc/locks, second open status %d, holder '%s': %s", locked ? "in" : "NOT in",
                  status, holder.c_str(), said.c_str());
}

// An ordinary user on a node that no group may open.
bool Denied() {
    std::string said;
    const int status = OpenElsewhere(said);
    return Report("permission-denied",
                  status == FT_DEVICE_NOT_OPENED && said.find("permission denied") != std::string::npos &&
                      said.find("61-automotive-scope-uaccess.rules") != std::string::npos,
                  "uid %u gid %u: FT_Open %d: %s", getuid(), getgid(), status, said.c_str());
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
    if (!WaitUntil(20000, [&] {
            const std::string folder = UsbDeviceFolder();
            return !folder.empty() && FirstLine(folder + "/devnum") != before && DeviceCount() == 1;
        }))
        return Report("screen-round-trip", false, "no new device within 20 s");
    const std::string back = std::to_string(static_cast<int>(MsSince(start)));
    return RoundTrips(
        "screen-round-trip",
        "device back " + back + " ms after the request; 3-byte request, 8410-byte frame: ", 10,
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
        return Report("unplug-read", false, "FT_Open %u", status);
    // The screen firmware sends nothing unasked: without a time-out the read blocks until the device goes.
    FT_SetTimeouts(handle, 0, 0);
    Clock::time_point returnedAt;
    auto reader = std::async(std::launch::async, [&] {
        DWORD byte = 0, got = 0;
        status = FT_Read(handle, &byte, 1, &got);
        returnedAt = Clock::now();
        std::puts("EVENT read returned");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::puts("SYNC unplug");
    const auto asked = Clock::now();
    bool hungUp = false;
    for (pollfd item{watched, POLLIN, 0}; !hungUp && MsSince(asked) < 20000;)
        hungUp = poll(&item, 1, 1000) > 0 && (item.revents & (POLLHUP | POLLERR));
    const auto hangupAt = Clock::now();
    if (reader.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
        Report("unplug-read", false, "FT_Read still blocked 20 s after the unplug request"), _exit(1);
    const bool listedNone = WaitUntil(3000, [] { return DeviceCount() == 0; });
    const double countedNoneMs = MsSince(hangupAt);
    FT_Close(handle);
    close(watched);
    const bool read = Report(
        "unplug-read", status != FT_OK && hungUp && returnedAt - hangupAt <= std::chrono::milliseconds(100),
        "hang-up %s; FT_Read returned status %u %.2f ms after it", hungUp ? "seen" : "NOT seen", status,
        MsSince(hangupAt, returnedAt));
    const bool count = Report("unplug-count", listedNone, "count %u %.2f ms after the hang-up", DeviceCount(),
                              countedNoneMs);
    std::puts("SYNC plug");
    const auto start = Clock::now();
    if (!WaitUntil(20000, [] { return DeviceCount() == 1; }))
        return Report("replug", false, "count still %u after 20 s", DeviceCount());
    const std::string back = std::to_string(static_cast<int>(MsSince(start)));
    return RoundTrips(
               "replug", "listed again " + back + " ms after the request; reopened for one frame: ", 1,
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
        {"hotplug", Hotplug}};
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
