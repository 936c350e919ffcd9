#include "GuestSupport.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace guest {

bool Report(const std::string& name, bool pass, const std::string& detail) {
    Say("CHECK " + name + (pass ? " PASS " : " FAIL ") + detail);
    return pass;
}

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string Ms(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", ms);
    return text;
}

std::string FirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string UsbDeviceFolder() {
    char resolved[PATH_MAX];
    const std::string link = std::string("/sys/class/tty/") + kTty + "/device";
    if (!realpath(link.c_str(), resolved))
        return {};
    // ttyUSB0 sits on the interface (1-1:1.0), which sits on the USB device.
    std::string folder = resolved;
    for (int level = 0; level < 2; ++level)
        folder = folder.substr(0, folder.rfind('/'));
    return folder;
}

int BridgeLatencyRegister(std::string& why) {
    const std::string usb = UsbDeviceFolder();
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::atoi(FirstLine(usb + "/busnum").c_str()),
                  std::atoi(FirstLine(usb + "/devnum").c_str()));
    const int fd = open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("cannot open ") + node;
        return -1;
    }
    uint8_t value = 0;
    usbdevfs_ctrltransfer transfer{};
    transfer.bRequestType = 0xC0; // vendor request, device to host
    transfer.bRequest = 0x0A;     // get latency timer
    transfer.wLength = 1;
    transfer.timeout = 1000;
    transfer.data = &value;
    const int got = ioctl(fd, USBDEVFS_CONTROL, &transfer);
    close(fd);
    if (got != 1) {
        why = "the latency request failed";
        return -1;
    }
    return value;
}

DWORD DeviceCount() {
    DWORD count = 0;
    if (FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
        return 0xFFFFFFFFu;
    return count;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string CapturedStderr(const std::function<void()>& action) {
    std::fflush(stderr);
    FILE* file = std::tmpfile();
    const int saved = dup(STDERR_FILENO);
    if (!file || saved < 0) {
        if (file)
            std::fclose(file);
        if (saved >= 0)
            close(saved);
        action();
        return "(standard error not captured: no temporary file)\n";
    }
    dup2(fileno(file), STDERR_FILENO);
    action();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(file);
    return text;
}

ChildResult RunSelf(const std::vector<std::string>& arguments) {
    ChildResult result;
    result.errors = CapturedStderr([&] {
        const pid_t pid = fork();
        if (pid == 0) {
            std::vector<char*> argv{const_cast<char*>("/proc/self/exe")};
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
    });
    return result;
}

Exchange RoundTrip(FT_HANDLE handle, const Bytes& command, size_t replySize) {
    Exchange exchange;
    exchange.reply.resize(replySize);
    FT_SetTimeouts(handle, 2000, 2000);
    const auto start = Clock::now();
    DWORD written = 0;
    DWORD got = 0;
    exchange.status =
        FT_Write(handle, const_cast<uint8_t*>(command.data()), static_cast<DWORD>(command.size()), &written);
    if (exchange.status == FT_OK && written == command.size())
        exchange.status = FT_Read(handle, exchange.reply.data(), static_cast<DWORD>(replySize), &got);
    exchange.ms = MsSince(start);
    exchange.reply.resize(got);
    return exchange;
}

std::string Spread(std::vector<double> ms) {
    if (ms.empty())
        return "no round trips";
    std::sort(ms.begin(), ms.end());
    char text[96];
    std::snprintf(text, sizeof text, "min/median/max %.2f/%.2f/%.2f ms over %zu", ms.front(),
                  ms[ms.size() / 2], ms.back(), ms.size());
    return text;
}

std::string Hex(const Bytes& bytes, size_t limit) {
    std::string text;
    char item[4];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(item, sizeof item, "%02X", bytes[i]);
        text += (i ? " " : "") + std::string(item);
    }
    return bytes.size() > limit ? text + " ..." : text;
}

} // namespace guest
