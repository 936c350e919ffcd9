#include "VirtualScope.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace vscope {

namespace {

// Output tags: the reply of command n is 3n, its noise 3n + 1, and the first
// part of a stalled reply 3n + 2.
constexpr std::uint64_t kTagsPerCommand = 3;
std::uint64_t ReplyTag(std::uint64_t n) {
    return kTagsPerCommand * n;
}
std::uint64_t NoiseTag(std::uint64_t n) {
    return kTagsPerCommand * n + 1;
}
std::uint64_t FirstPartTag(std::uint64_t n) {
    return kTagsPerCommand * n + 2;
}

constexpr std::int64_t kUsPerMs = 1000;
constexpr std::int64_t kUsPerSecond = 1000000;
constexpr long kNsPerUs = 1000;

std::int64_t MsToUs(double ms) {
    return std::int64_t(ms * double(kUsPerMs) + 0.5);
}

// What a short reply keeps: half a screen frame, or a boot-loader reply up to
// and with its status byte.
constexpr std::size_t kScreenShortBytes = Picture::kFrameBytes / 2;
constexpr std::size_t kBootShortBytes = BootLoaderFirmware::kStatusIndex + 1;
// The status a status fault puts into a boot-loader reply.
constexpr char kFaultyStatus = 'X';
// What a noise fault sends after the reply: on the boot loader a stray
// acceptance of a programmed block, on the screen firmware one stray byte.
constexpr BootLoaderFirmware::Reply kBootNoise =
    BootLoaderFirmware::MakeReply(BootLoaderFirmware::kProgram, BootLoaderFirmware::kAccepted);
constexpr std::uint8_t kScreenNoise = 0x55;
// Status shown in the log for a reply that carried none.
constexpr char kNoStatus = '-';

// A device that goes away after its reply waits until the host has read that
// reply: at least this long, at most kLongestDrainUs.
constexpr std::int64_t kShortestDrainUs = 5 * kUsPerMs;
constexpr std::int64_t kLongestDrainUs = 500 * kUsPerMs;
// How often a draining device looks again whether the host has read it all.
constexpr std::int64_t kDrainCheckUs = kUsPerMs;
// Rest after a hang-up seen on the master, so the loop does not spin on it.
constexpr useconds_t kHangUpRestUs = 1000;
// Largest piece read from the master at once.
constexpr std::size_t kReadChunk = 65536;

} // namespace

sigset_t VirtualScope::ControlSignals() {
    sigset_t mask;
    sigemptyset(&mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        sigaddset(&mask, s);
    return mask;
}

bool VirtualScope::BlockControlSignals() {
    const sigset_t mask = ControlSignals();
    return pthread_sigmask(SIG_BLOCK, &mask, nullptr) == 0;
}

VirtualScope::VirtualScope(const Options& options, EventLog& log)
    : m_options(options), m_log(log), m_link(options.name), m_pacer(options.throughput) {}

std::int64_t VirtualScope::NowUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string VirtualScope::Prepare() {
    if (m_options.firmware == Options::Firmware::Screen)
        return m_frames.Configure(m_options.picture, m_options.headerFill);
    m_flash = std::make_unique<FlashModel>(m_options.blocksPerSector, m_options.sectors,
                                           m_options.flashInitialOld ? FlashModel::Fill::Old
                                                                     : FlashModel::Fill::Erased);
    m_bootLoader = std::make_unique<BootLoaderFirmware>(*m_flash, m_options.eraseMs, m_options.programMs);
    return {};
}

void VirtualScope::Fail(const std::string& what) {
    std::fprintf(stderr, "virtual-scope: %s\n", what.c_str());
    m_failed = true;
}

bool VirtualScope::Plug() {
    const bool busy = m_options.busy || (m_firstPlug && m_options.busyForMs >= 0);
    if (std::string error = m_link.Plug(busy); !error.empty()) {
        Fail(error);
        return false;
    }
    m_replugAtUs = -1;
    m_log.Write("ev=plug link=" + m_link.LinkPath() + " pty=" + m_link.SlavePath());
    if (busy) {
        m_log.Write("ev=busy held=1");
        if (!m_options.busy)
            m_busyEndUs = NowUs() + MsToUs(m_options.busyForMs);
    }
    m_firstPlug = false;
    return true;
}

void VirtualScope::Unplug() {
    if (!m_link.IsPlugged())
        return;
    std::vector<OutputPacer::Done> done;
    m_pacer.Abandon(done);
    Finished(done);
    // Commands still being worked on are lost with the device.
    for (const Pending& p : m_pending)
        LogReply(p.n, 0, kNoStatus, p.fault);
    m_pending.clear();
    m_inFlight.clear();
    m_busyUntilUs = 0;
    m_scanner.Reset();
    m_parser.Reset();
    m_busyEndUs = -1;
    m_link.Unplug();
    m_log.Write("ev=unplug");
    if (m_options.replugAfterMs >= 0)
        m_replugAtUs = NowUs() + MsToUs(m_options.replugAfterMs);
}

void VirtualScope::LogReply(std::uint64_t n, std::size_t bytes, char status, Fault fault) {
    m_log.Write("ev=reply n=" + std::to_string(n) + " bytes=" + std::to_string(bytes) +
                " status=" + std::string(1, status) + " fault=" + FaultName(fault));
}

void VirtualScope::AfterReply(std::uint64_t n) {
    if (m_options.unplugAfterCommands && !m_unpluggedByCommands && n >= m_options.unplugAfterCommands) {
        m_unpluggedByCommands = true;
        m_unplugNow = true;
    }
}

void VirtualScope::Finished(const std::vector<OutputPacer::Done>& done) {
    for (const OutputPacer::Done& d : done) {
        const std::uint64_t n = d.tag / kTagsPerCommand;
        if (d.tag == NoiseTag(n)) {
            m_log.Write("ev=noise bytes=" + std::to_string(d.sent));
            continue;
        }
        if (d.tag == FirstPartTag(n)) {
            m_log.Write("ev=stall n=" + std::to_string(n) + " bytes=" + std::to_string(d.sent));
            continue;
        }
        auto it = m_inFlight.find(n);
        const InFlight info = it != m_inFlight.end() ? it->second : InFlight{kNoStatus, Fault::None};
        if (it != m_inFlight.end())
            m_inFlight.erase(it);
        // A reply cut before its status byte carried no status.
        const bool boot = m_options.firmware == Options::Firmware::BootLoader;
        LogReply(n, d.sent, boot && d.sent <= BootLoaderFirmware::kStatusIndex ? kNoStatus : info.status,
                 info.fault);
        AfterReply(n);
    }
}

void VirtualScope::Command(std::uint64_t n, std::vector<std::uint8_t> reply, double deviceMs,
                           bool endOfDownload) {
    const bool boot = m_options.firmware == Options::Firmware::BootLoader;
    const Fault fault = m_options.faults.At(n);
    switch (fault) {
    case Fault::Drop:
        reply.clear();
        break;
    case Fault::Short:
        reply.resize(boot ? kBootShortBytes : kScreenShortBytes);
        break;
    case Fault::Status:
        if (boot)
            reply[BootLoaderFirmware::kStatusIndex] = kFaultyStatus;
        else
            reply.resize(kScreenShortBytes);
        break;
    default:
        break;
    }
    const std::int64_t now = NowUs();
    const std::int64_t start = now > m_busyUntilUs ? now : m_busyUntilUs;
    std::int64_t due = start + MsToUs(m_options.latencyMs + deviceMs);
    if (fault == Fault::Late)
        due += MsToUs(m_options.lateMs);
    const char status =
        boot && fault != Fault::Drop ? char(reply[BootLoaderFirmware::kStatusIndex]) : kNoStatus;
    if (fault == Fault::Stall) {
        // The first half now, a pause, then the rest: later commands wait.
        const auto half = reply.begin() + std::ptrdiff_t(reply.size() / 2);
        std::vector<std::uint8_t> first(reply.begin(), half);
        reply.erase(reply.begin(), half);
        Pending part{n, due, std::move(first), status, fault, false};
        part.firstPart = true;
        m_pending.push_back(std::move(part));
        due += MsToUs(m_options.stallMs);
    }
    m_busyUntilUs = due;
    m_pending.push_back(Pending{n, due, std::move(reply), status, fault, endOfDownload});
}

void VirtualScope::ReleaseDue(std::int64_t nowUs) {
    while (!m_pending.empty() && m_pending.front().dueUs <= nowUs && m_link.IsPlugged()) {
        Pending p = std::move(m_pending.front());
        m_pending.pop_front();
        if (p.endOfDownload)
            WriteFlash();
        if (p.fault == Fault::Drop) {
            LogReply(p.n, 0, kNoStatus, p.fault);
            AfterReply(p.n);
            continue;
        }
        if (p.firstPart) {
            m_pacer.Push(FirstPartTag(p.n), std::move(p.reply));
            continue;
        }
        m_inFlight[p.n] = InFlight{p.status, p.fault};
        m_pacer.Push(ReplyTag(p.n), std::move(p.reply));
        if (p.fault == Fault::Noise) {
            if (m_options.firmware == Options::Firmware::BootLoader)
                m_pacer.Push(NoiseTag(p.n), {kBootNoise.begin(), kBootNoise.end()});
            else
                m_pacer.Push(NoiseTag(p.n), {kScreenNoise});
        }
    }
}

void VirtualScope::Pump(std::int64_t nowUs) {
    if (!m_link.IsPlugged() || m_pacer.Empty())
        return;
    std::vector<OutputPacer::Done> done;
    const bool ok = m_pacer.Pump(m_link.MasterFd(), nowUs, done);
    Finished(done);
    if (!ok) {
        std::fprintf(stderr, "virtual-scope: writing to the pseudo-terminal failed (%s); unplugging\n",
                     std::strerror(errno));
        Unplug();
    }
}

void VirtualScope::WriteFlash() {
    if (!m_flash || m_options.flashFile.empty())
        return;
    if (std::string error = m_flash->WriteFile(m_options.flashFile); !error.empty()) {
        std::fprintf(stderr, "virtual-scope: %s\n", error.c_str());
        return;
    }
    m_log.Write("ev=flash path=" + m_options.flashFile);
}

void VirtualScope::Receive(const std::uint8_t* bytes, std::size_t count) {
    std::size_t ignored = 0;
    if (m_options.firmware == Options::Firmware::Screen) {
        const ScreenRequestScanner::Result r = m_scanner.Feed(bytes, count);
        ignored = r.ignored;
        if (ignored)
            m_log.Write("ev=ignored bytes=" + std::to_string(ignored));
        for (std::size_t i = 0; i < r.requests; ++i) {
            const std::uint64_t n = ++m_commands;
            m_log.Write("ev=cmd n=" + std::to_string(n) + " kind=screen");
            Command(n, m_frames.Build(n), 0, false);
        }
        return;
    }
    std::vector<BootPacket> packets;
    ignored = m_parser.Feed(bytes, count, packets);
    if (ignored)
        m_log.Write("ev=ignored bytes=" + std::to_string(ignored));
    for (const BootPacket& packet : packets) {
        const std::uint64_t n = ++m_commands;
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", packet.code);
        m_log.Write("ev=cmd n=" + std::to_string(n) + " code=" + code +
                    " addr=" + std::to_string(packet.address) + " len=" + std::to_string(packet.length));
        BootLoaderFirmware::Answer answer = m_bootLoader->Handle(packet);
        Command(n, std::vector<std::uint8_t>(answer.reply.begin(), answer.reply.end()), answer.deviceMs,
                answer.endOfDownload);
    }
}

void VirtualScope::ReadMaster() {
    std::uint8_t buffer[kReadChunk];
    for (;;) {
        const ssize_t n = read(m_link.MasterFd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // EAGAIN: all read. The scope's own slave descriptor keeps EIO away.
        std::size_t count = std::size_t(n);
        bool unplug = false;
        if (m_options.unplugAfterBytes && !m_unpluggedByBytes &&
            m_receivedBytes + count >= m_options.unplugAfterBytes) {
            count = std::size_t(m_options.unplugAfterBytes - m_receivedBytes);
            m_unpluggedByBytes = true;
            unplug = true;
        }
        m_receivedBytes += count;
        Receive(buffer, count);
        if (unplug) {
            Unplug();
            return;
        }
    }
}

int VirtualScope::WatchControlSignals() {
    const sigset_t mask = ControlSignals();
    if (sigprocmask(SIG_BLOCK, &mask, nullptr) != 0) {
        Fail(std::string("cannot block the control signals: ") + std::strerror(errno));
        return -1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const int fd = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0)
        Fail(std::string("cannot watch the control signals: ") + std::strerror(errno));
    return fd;
}

bool VirtualScope::ServeTimers(std::int64_t nowUs) {
    if (!m_link.IsPlugged() && m_replugAtUs >= 0 && nowUs >= m_replugAtUs && !Plug())
        return false;
    if (m_busyEndUs >= 0 && nowUs >= m_busyEndUs) {
        m_busyEndUs = -1;
        if (std::string error = m_link.ReleaseBusy(); error.empty())
            m_log.Write("ev=busy held=0");
    }
    return true;
}

bool VirtualScope::UnplugOnceDrained(std::int64_t nowUs) {
    if (!m_unplugNow)
        return false;
    // A hang-up discards what the host has not read yet, but a device that
    // goes away after its reply had sent that reply: wait until the host has
    // taken it (or give up after a while).
    if (m_drainSinceUs < 0)
        m_drainSinceUs = nowUs;
    const std::int64_t waited = nowUs - m_drainSinceUs;
    if ((waited < kShortestDrainUs || m_link.UnreadByHost() != 0) && waited < kLongestDrainUs)
        return false;
    m_unplugNow = false;
    m_drainSinceUs = -1;
    Unplug();
    return true;
}

std::int64_t VirtualScope::NextWakeUs(std::int64_t nowUs) const {
    std::int64_t wake = -1;
    auto consider = [&wake](std::int64_t t) {
        if (t >= 0 && (wake < 0 || t < wake))
            wake = t;
    };
    if (m_link.IsPlugged()) {
        if (!m_pending.empty())
            consider(m_pending.front().dueUs);
        consider(m_pacer.NextWakeUs());
    } else {
        consider(m_replugAtUs);
    }
    consider(m_busyEndUs);
    if (m_unplugNow)
        consider(nowUs + kDrainCheckUs);
    return wake;
}

bool VirtualScope::WaitAndServe(int signalFd, std::int64_t nowUs) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {-1, 0, 0}};
    const bool plugged = m_link.IsPlugged();
    if (plugged) {
        // A device on its way out takes no further command: what the host
        // sends meanwhile stays unread and goes with the link.
        const short in = m_unplugNow ? 0 : POLLIN;
        fds[1] = {m_link.MasterFd(), short(in | (m_pacer.Blocked() ? POLLOUT : 0)), 0};
    }
    timespec timeout{};
    const std::int64_t wake = NextWakeUs(nowUs);
    if (wake >= 0) {
        const std::int64_t waitUs = wake > nowUs ? wake - nowUs : 0;
        timeout.tv_sec = waitUs / kUsPerSecond;
        timeout.tv_nsec = long(waitUs % kUsPerSecond) * kNsPerUs;
    }
    if (ppoll(fds, plugged ? 2 : 1, wake >= 0 ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) {
        Fail(std::string("waiting for events failed: ") + std::strerror(errno));
        return false;
    }
    const bool running = !(fds[0].revents & POLLIN) || ServeSignals(signalFd);
    if (plugged && m_link.IsPlugged())
        ServeMaster(fds[1].revents);
    return running;
}

bool VirtualScope::ServeSignals(int signalFd) {
    bool running = true;
    signalfd_siginfo info;
    while (read(signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
        switch (info.ssi_signo) {
        case SIGUSR1:
            Unplug();
            break;
        case SIGUSR2:
            if (!m_link.IsPlugged() && !Plug())
                running = false;
            break;
        default:
            running = false;
            break;
        }
    }
    return running;
}

void VirtualScope::ServeMaster(short revents) {
    if (revents & POLLOUT)
        m_pacer.Unblock();
    if (revents & POLLIN)
        ReadMaster();
    else if (revents & (POLLHUP | POLLERR))
        usleep(kHangUpRestUs); // cannot happen while the scope holds its own slave open
}

int VirtualScope::Run() {
    const int signalFd = WatchControlSignals();
    if (signalFd < 0)
        return 1;
    bool running = Plug();
    while (running && !m_failed) {
        const std::int64_t now = NowUs();
        if (!ServeTimers(now))
            break;
        ReleaseDue(now);
        Pump(now);
        if (!UnplugOnceDrained(now))
            running = WaitAndServe(signalFd, now);
    }
    close(signalFd);
    WriteFlash();
    m_link.Unplug();
    m_log.Write("ev=exit");
    return m_failed ? 1 : 0;
}

} // namespace vscope
