// Helpers of the guest-side check program: result lines on the console, the
// bridge's sysfs attributes, child runs of the program itself and timed round
// trips through the driver library.
#pragma once

#include "ftd2xx.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace guest {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

// The one bridge the guest has: QEMU's FTDI-compatible serial device.
constexpr const char* kTty = "ttyUSB0";
constexpr const char* kNode = "/dev/ttyUSB0";
constexpr const char* kLatencyTimer = "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer";

// Prints "CHECK <name> PASS|FAIL <detail>" for the host; returns pass.
bool Report(const std::string& name, bool pass, const std::string& detail);
// Prints one line on the console at once.
void Say(const std::string& line);

double MsSince(Clock::time_point start);
std::string Ms(double ms); // "1.23 ms"
std::string FirstLine(const std::string& path);
// Folder of the tty's USB device in sysfs, empty while there is none.
std::string UsbDeviceFolder();
// The latency timer as the bridge itself holds it, read with the bridge's
// vendor request through usbfs (root); -1 with the reason when unreadable.
int BridgeLatencyRegister(std::string& why);
// The library's number-only device count.
DWORD DeviceCount();
// Polls condition every millisecond until it holds or timeoutMs passed.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

// Standard error written while action runs, with the trailing newline.
std::string CapturedStderr(const std::function<void()>& action);

struct ChildResult {
    int exitCode = -1;
    std::string errors; // its standard error
};
// Runs this program again with arguments and waits for it.
ChildResult RunSelf(const std::vector<std::string>& arguments);

struct Exchange {
    FT_STATUS status = FT_OK;
    Bytes reply;
    double ms = 0;
};
// Writes command and reads replySize bytes (read time-out 2 s), timed.
Exchange RoundTrip(FT_HANDLE handle, const Bytes& command, size_t replySize);
// "min/median/max X/Y/Z ms over N" of the times.
std::string Spread(std::vector<double> ms);
std::string Hex(const Bytes& bytes, size_t limit = 8);

} // namespace guest
