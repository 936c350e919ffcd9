#include "GuestSteps.h"
#include "GuestSupport.h"

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace guest {
namespace {

constexpr double kReadNoticeLimitMs = 100;

// When the kernel hung the tty up, seen on a descriptor of our own that the
// library knows nothing of: the moment the unplug reached the tty layer.
class HangupWatch {
  public:
    HangupWatch() : m_fd(open(kNode, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        if (m_fd >= 0)
            m_thread = std::thread([this] { Watch(); });
    }
    ~HangupWatch() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Seen() const { return m_seen; }
    Clock::time_point When() const { return m_when; }

  private:
    void Watch() {
        while (!m_stop) {
            pollfd item{m_fd, POLLIN, 0};
            if (poll(&item, 1, 50) > 0 && (item.revents & (POLLHUP | POLLERR))) {
                m_when = Clock::now();
                m_seen = true;
                return;
            }
        }
    }

    int m_fd;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_seen{false};
    Clock::time_point m_when;
};

double Between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

bool UnplugDuringRead() {
    HangupWatch hangup;
    FT_HANDLE handle = nullptr;
    if (FT_Open(0, &handle) != FT_OK) {
        Report("unplug-read", false, "FT_Open failed");
        return Report("unplug-count", false, "FT_Open failed");
    }
    FT_SetTimeouts(handle, 0, 0);
    std::atomic<bool> returned{false};
    FT_STATUS status = FT_OK;
    Clock::time_point returnedAt;
    // The screen firmware sends nothing unasked: without a time-out the read
    // blocks until the device goes.
    std::thread reader([&] {
        uint8_t byte = 0;
        DWORD got = 0;
        status = FT_Read(handle, &byte, 1, &got);
        returnedAt = Clock::now();
        returned = true;
        Say("EVENT read returned");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Say("SYNC unplug");
    if (!WaitFor([&] { return returned.load(); }, 20000)) {
        Report("unplug-read", false, "FT_Read still blocked 20 s after the unplug request");
        Report("unplug-count", false, "not reached");
        std::fflush(stdout);
        _exit(1);
    }
    reader.join();
    const bool listedNone = WaitFor([] { return DeviceCount() == 0; }, 3000);
    const auto countedNone = Clock::now();
    FT_Close(handle);
    WaitFor([&] { return hangup.Seen(); }, 1000);
    const auto reference = hangup.Seen() ? hangup.When() : returnedAt;
    const double readMs = Between(reference, returnedAt);
    const double countMs = Between(reference, countedNone);
    const std::string since = hangup.Seen() ? " after the tty's hang-up" : " (no hang-up seen)";
    const bool readPass = status != FT_OK && hangup.Seen() && readMs <= kReadNoticeLimitMs;
    bool pass = Report("unplug-read", readPass,
                       "FT_Read returned status " + std::to_string(status) + " " + Ms(readMs) + since);
    return Report("unplug-count", listedNone,
                  "count " + std::to_string(DeviceCount()) + " " + Ms(countMs) + since) &&
           pass;
}

bool PlugAndReopen() {
    Say("SYNC plug");
    const auto start = Clock::now();
    if (!WaitFor([] { return DeviceCount() == 1; }, 20000))
        return Report("replug", false, "count still " + std::to_string(DeviceCount()) + " after 20 s");
    const double listedMs = MsSince(start);
    FT_HANDLE handle = nullptr;
    const FT_STATUS status = FT_Open(0, &handle);
    if (status != FT_OK)
        return Report("replug", false, "listed again, then FT_Open " + std::to_string(status));
    const Exchange exchange = RoundTrip(handle, {0x51, 0x42, 0x0D}, 8410);
    FT_Close(handle);
    return Report("replug", exchange.status == FT_OK && exchange.reply.size() == 8410,
                  "listed again " + Ms(listedMs) + " after the request; reopened; frame of " +
                      std::to_string(exchange.reply.size()) + " bytes in " + Ms(exchange.ms));
}

} // namespace

bool Hotplug() {
    const bool unplugged = UnplugDuringRead();
    return PlugAndReopen() && unplugged;
}

} // namespace guest
