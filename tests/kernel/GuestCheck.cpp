// kernel-guest-check: runs inside the QEMU guest against the real ftdi_sio
// tty, through our driver library, and prints one "CHECK <name> PASS|FAIL"
// line per check for the host. The guest's init script calls it once per
// step, as root or as an ordinary user.
#include "GuestSteps.h"
#include "GuestSupport.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <linux/serial.h>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

namespace guest {
namespace {

std::string Who() {
    return "uid " + std::to_string(getuid()) + " gid " + std::to_string(getgid());
}

// Whether text is exactly one line; drops its newline.
bool OneLine(std::string& text) {
    const bool one = !text.empty() && text.find('\n') == text.size() - 1;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return one;
}

bool List() {
    const DWORD count = DeviceCount();
    char description[64] = {};
    char serial[64] = {};
    const auto first = reinterpret_cast<PVOID>(uintptr_t{0});
    const FT_STATUS byDescription =
        FT_ListDevices(first, description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION);
    const FT_STATUS bySerial = FT_ListDevices(first, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
    const std::string usb = UsbDeviceFolder();
    const std::string vendor = FirstLine(usb + "/idVendor");
    const std::string product = FirstLine(usb + "/product");
    const bool pass = count == 1 && byDescription == FT_OK && bySerial == FT_OK && vendor == "0403" &&
                      !product.empty() && product == description && std::string(serial) == kTty;
    return Report("list", pass,
                  "count " + std::to_string(count) + ", device 0 '" + description + "' (" + serial +
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
    if (fd >= 0)
        close(fd);
    FILE* timer = std::fopen(kLatencyTimer, "w");
    const bool written = timer && std::fputs("16", timer) >= 0 && std::fclose(timer) == 0;
    const std::string now = FirstLine(kLatencyTimer);
    return (cleared && written && now == "16") ||
           Report("latency-reset", false,
                  "flag cleared " + std::to_string(cleared) + ", timer '" + now + "'");
}

// FT_Open's low-latency request, seen in the driver's latency_timer attribute.
bool Latency(const std::string& name) {
    const std::string before = FirstLine(kLatencyTimer);
    FT_HANDLE handle = nullptr;
    FT_STATUS status = FT_OK;
    std::string errors = CapturedStderr([&] { status = FT_Open(0, &handle); });
    const std::string after = FirstLine(kLatencyTimer);
    if (status == FT_OK)
        FT_Close(handle);
    OneLine(errors);
    return Report(name, status == FT_OK && after == "1",
                  Who() + ": FT_Open " + std::to_string(status) + ", latency timer " + before +
                      " ms before, " + after + " ms after" + (errors.empty() ? "" : "; " + errors));
}

// What the last open left in the bridge itself, read by root after the check
// named name (ordinary users may not send requests to the device).
bool LatencyRegister(const std::string& name) {
    std::string why;
    const int value = BridgeLatencyRegister(why);
    return Report(name + "-bridge", value == 1,
                  value < 0 ? why : "the bridge's latency register holds " + std::to_string(value) + " ms");
}

// Whether the kernel lists an exclusive flock() held by this process.
bool HoldsFlock() {
    std::ifstream locks("/proc/locks");
    const std::string pid = " " + std::to_string(getpid()) + " ";
    for (std::string line; std::getline(locks, line);)
        if (line.find("FLOCK") != std::string::npos && line.find("WRITE") != std::string::npos &&
            line.find(pid) != std::string::npos)
            return true;
    return false;
}

// Holds the device open while a second process of this program tries too.
bool SecondOpen() {
    FT_HANDLE handle = nullptr;
    if (FT_Open(0, &handle) != FT_OK)
        return Report("second-open", false, "the first open failed");
    const bool locked = HoldsFlock();
    ChildResult child = RunSelf({"try-open"});
    FT_Close(handle);
    const bool oneLine = OneLine(child.errors);
    const std::string holder = "pid " + std::to_string(getpid()) + " (" + FirstLine("/proc/self/comm") + ")";
    return Report("second-open",
                  locked && child.exitCode == FT_DEVICE_NOT_OPENED && oneLine &&
                      child.errors.find(holder) != std::string::npos,
                  std::string(locked ? "flock listed in /proc/locks" : "no flock in /proc/locks") +
                      ", second open status " + std::to_string(child.exitCode) + ", holder '" + holder +
                      "': " + child.errors);
}

// The second process of SecondOpen: its exit status is FT_Open's.
int TryOpen() {
    FT_HANDLE handle = nullptr;
    const FT_STATUS status = FT_Open(0, &handle);
    if (status == FT_OK)
        FT_Close(handle);
    return static_cast<int>(status);
}

// An ordinary user on a node that no group may open.
bool Denied() {
    FT_HANDLE handle = nullptr;
    FT_STATUS status = FT_OK;
    std::string line = CapturedStderr([&] { status = FT_Open(0, &handle); });
    if (status == FT_OK)
        FT_Close(handle);
    const bool oneLine = OneLine(line);
    return Report("permission-denied",
                  status == FT_DEVICE_NOT_OPENED && oneLine &&
                      line.find("permission denied") != std::string::npos &&
                      line.find("61-automotive-scope-uaccess.rules") != std::string::npos,
                  Who() + ": FT_Open " + std::to_string(status) + ": " + line);
}

} // namespace
} // namespace guest

int main(int argc, char** argv) {
    using namespace guest;
    const std::string step = argc > 1 ? argv[1] : "";
    const std::string name = argc > 2 ? argv[2] : "";
    if (step == "try-open")
        return TryOpen();
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
    const auto found = steps.find(step);
    if (found == steps.end()) {
        std::fprintf(stderr,
                     "usage: %s STEP [NAME]; steps: latency and latency-register take a check name:\n",
                     argv[0]);
        for (const auto& [known, action] : steps)
            std::fprintf(stderr, "  %s\n", known.c_str());
        return 2;
    }
    return found->second() ? 0 : 1;
}
