#include "OpenDevice.h"

#include "OpenFailureReport.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace usbdriver {

namespace {

bool ValidTransferSize(ULONG size) {
    return size >= 64 && size <= 65536 && size % 64 == 0;
}

} // namespace

OpenDevice::OpenResult OpenDevice::Open(const DeviceEntry& entry, DeviceList& list) {
    OpenResult result;
    const unsigned removals = list.Removals(entry);
    const int fd = open(entry.node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.diagnostic = OpenFailureReport::NotOpened(entry, "open", errno);
        return result;
    }
    // An advisory lock keeps our own users apart even when they run as root,
    // for whom the tty's exclusive mode does not count.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        result.status = FT_DEVICE_NOT_OPENED;
        result.diagnostic = error == EWOULDBLOCK ? OpenFailureReport::Busy(entry)
                                                 : OpenFailureReport::NotOpened(entry, "locking", error);
        return result;
    }
    // Exclusive mode also keeps out programs that do not lock. Not on a
    // virtual bridge: its scope holds the slave open itself, so the flag would
    // outlive our descriptor and refuse the next non-root open.
    if (!entry.isVirtual)
        ioctl(fd, TIOCEXCL);
    if (!ApplyLineSettings(fd)) {
        const int error = errno;
        close(fd);
        result.status = FT_DEVICE_NOT_OPENED;
        result.diagnostic = OpenFailureReport::NotOpened(entry, "setting raw mode", error);
        return result;
    }
    // Low latency makes the USB serial driver pass short replies on at once;
    // a pseudo-terminal refuses the request, which does not matter.
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        const int error = errno;
        close(fd);
        result.status = FT_DEVICE_NOT_OPENED;
        result.diagnostic = OpenFailureReport::NotOpened(entry, "creating a wake-up event", error);
        return result;
    }
    result.device.reset(new OpenDevice(entry, list, fd, wakeFd, removals));
    return result;
}

OpenDevice::OpenDevice(const DeviceEntry& entry, DeviceList& list, int fd, int wakeFd, unsigned removals)
    : m_entry(entry), m_list(list), m_removalsAtOpen(removals), m_fd(fd), m_wakeFd(wakeFd) {}

OpenDevice::~OpenDevice() {
    // Nobody waits any more: callers hold the device while they use it.
    m_waiters = 0;
    MarkGone();
}

bool OpenDevice::ApplyLineSettings(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // With VMIN 0 a non-blocking read of an empty tty returns 0, which would
    // look like the end of the device.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    // The bridge's power-on rate; neither program sets one.
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

void OpenDevice::MarkGone() {
    if (!m_gone) {
        m_gone = true;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t signalled = write(m_wakeFd, &one, sizeof one);
    }
    // A waiting caller still polls the descriptor; closing it under that poll
    // could let a new open reuse the number. The last waiter closes it.
    if (m_waiters > 0)
        m_closePending = true;
    else
        CloseDescriptor();
}

// Nobody polls either descriptor any more: both go (a closed handle may live
// on a while as a thread's last look-up).
void OpenDevice::CloseDescriptor() {
    m_closePending = false;
    if (m_fd >= 0) {
        if (!m_entry.isVirtual)
            ioctl(m_fd, TIOCNXCL);
        close(m_fd);
        m_fd = -1;
    }
    if (m_wakeFd >= 0) {
        close(m_wakeFd);
        m_wakeFd = -1;
    }
}

void OpenDevice::Abandon() {
    std::lock_guard lock(m_mutex);
    m_abandoned = true;
    MarkGone();
    m_queue.Release();
}

bool OpenDevice::CheckAttached(bool force) {
    if (m_gone)
        return false;
    const Clock::time_point now = Clock::now();
    const bool full = force || now >= m_nextNodeCheck;
    if (full)
        m_nextNodeCheck = now + kNodeCheckInterval;
    if (m_abandoned || !m_list.StillAttached(m_entry, m_removalsAtOpen, full))
        MarkGone();
    return !m_gone;
}

bool OpenDevice::Fill() {
    if (m_gone)
        return false;
    for (;;) {
        size_t space = 0;
        uint8_t* target = m_queue.FreeSpan(space);
        if (space == 0)
            return true;
        const ssize_t got = read(m_fd, target, space);
        if (got > 0) {
            m_queue.Commit(static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        // End of file (a hung-up tty) or an error such as EIO after unplug.
        MarkGone();
        return false;
    }
}

void OpenDevice::Wait(std::unique_lock<SpinLock>& lock, short events, bool timed,
                      Clock::time_point deadline) {
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kLivenessSlice);
    if (timed) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        wait = std::clamp(left, std::chrono::milliseconds(0), wait);
    }
    pollfd items[2] = {{m_fd, events, 0}, {m_wakeFd, POLLIN, 0}};
    ++m_waiters;
    lock.unlock();
    const int ready = poll(items, 2, static_cast<int>(wait.count()));
    lock.lock();
    if (--m_waiters == 0 && m_closePending)
        CloseDescriptor();
    // Nothing arrived within the slice, or the descriptor reports a hang-up:
    // look whether the device is still there.
    if (ready <= 0 || (items[0].revents & (POLLHUP | POLLERR | POLLNVAL)))
        CheckAttached(true);
}

FT_STATUS OpenDevice::QueueStatus(DWORD* bytes) {
    std::lock_guard lock(m_mutex);
    if (!Fill() || !CheckAttached())
        return FT_IO_ERROR;
    size_t total = m_queue.Size();
    if (m_queue.Full()) {
        // The queue is full: what still waits in the kernel was received too.
        int pending = 0;
        if (ioctl(m_fd, FIONREAD, &pending) == 0 && pending > 0)
            total += static_cast<size_t>(pending);
    }
    *bytes = static_cast<DWORD>(std::min<size_t>(total, 0xFFFFFFFFu));
    return FT_OK;
}

FT_STATUS OpenDevice::ReadWaiting(uint8_t* out, DWORD count, DWORD* received) {
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.Size() >= count) {
            m_queue.Take(out, count);
            *received = count;
            return FT_OK;
        }
    }
    std::lock_guard reading(m_readMutex);
    std::unique_lock lock(m_mutex);
    size_t done = m_queue.Take(out, count);
    if (done == count) {
        *received = count;
        return FT_OK;
    }
    const bool timed = m_readTimeoutMs != 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_readTimeoutMs);
    auto lastCheck = Clock::now();
    for (;;) {
        Fill();
        done += m_queue.Take(out + done, count - done);
        if (done == count)
            break;
        if (m_gone) {
            *received = static_cast<DWORD>(done);
            return FT_IO_ERROR;
        }
        const auto now = Clock::now();
        if (timed && now >= deadline)
            break;
        // Bytes trickling in keep poll() from timing out; look anyway.
        if (now - lastCheck >= kLivenessSlice) {
            lastCheck = now;
            if (!CheckAttached(true))
                continue;
        }
        Wait(lock, POLLIN, timed, deadline);
    }
    *received = static_cast<DWORD>(done);
    return FT_OK;
}

FT_STATUS OpenDevice::Write(const void* buffer, DWORD count, DWORD* sent) {
    std::lock_guard writing(m_writeMutex);
    std::unique_lock lock(m_mutex);
    *sent = 0;
    if (m_gone || !CheckAttached())
        return FT_IO_ERROR;
    const auto* in = static_cast<const uint8_t*>(buffer);
    const bool timed = m_writeTimeoutMs != 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_writeTimeoutMs);
    size_t done = 0;
    while (done < count) {
        const ssize_t put = write(m_fd, in + done, count - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            *sent = static_cast<DWORD>(done);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            MarkGone();
            return FT_IO_ERROR;
        }
        if (timed && Clock::now() >= deadline)
            break;
        Wait(lock, POLLOUT, timed, deadline);
        if (m_gone)
            return FT_IO_ERROR;
    }
    return FT_OK;
}

FT_STATUS OpenDevice::Purge(ULONG mask) {
    std::lock_guard lock(m_mutex);
    if (mask & ~static_cast<ULONG>(FT_PURGE_RX | FT_PURGE_TX))
        return FT_INVALID_PARAMETER;
    if (mask & FT_PURGE_RX)
        m_queue.Clear();
    if (m_gone || !CheckAttached())
        return FT_IO_ERROR;
    if ((mask & FT_PURGE_RX) && tcflush(m_fd, TCIFLUSH) != 0)
        return FT_IO_ERROR;
    if ((mask & FT_PURGE_TX) && tcflush(m_fd, TCOFLUSH) != 0)
        return FT_IO_ERROR;
    return FT_OK;
}

FT_STATUS OpenDevice::Reset() {
    std::lock_guard lock(m_mutex);
    m_queue.Clear();
    m_readTimeoutMs = m_writeTimeoutMs = 0;
    m_inTransferSize = kDefaultInTransferSize;
    m_outTransferSize = 0;
    if (m_gone || !CheckAttached())
        return FT_IO_ERROR;
    if (tcflush(m_fd, TCIOFLUSH) != 0 || !ApplyLineSettings(m_fd))
        return FT_IO_ERROR;
    return FT_OK;
}

FT_STATUS OpenDevice::SetTimeouts(ULONG readMs, ULONG writeMs) {
    std::lock_guard lock(m_mutex);
    m_readTimeoutMs = readMs;
    m_writeTimeoutMs = writeMs;
    return m_gone ? FT_IO_ERROR : FT_OK;
}

FT_STATUS OpenDevice::SetUsbParameters(ULONG inSize, ULONG outSize) {
    std::lock_guard lock(m_mutex);
    if (!ValidTransferSize(inSize) || (outSize != 0 && !ValidTransferSize(outSize)))
        return FT_INVALID_PARAMETER;
    // The kernel picks its own USB transfer sizes; the values are kept so
    // that a reset can tell what it undoes, nothing more.
    m_inTransferSize = inSize;
    m_outTransferSize = outSize;
    return m_gone ? FT_IO_ERROR : FT_OK;
}

bool OpenDevice::ReleaseIfGone() {
    std::unique_lock lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    if (!m_gone) {
        pollfd item{m_fd, POLLIN, 0};
        if (poll(&item, 1, 0) > 0 && (item.revents & (POLLHUP | POLLERR | POLLNVAL)))
            MarkGone();
    }
    CheckAttached(true);
    return m_gone;
}

} // namespace usbdriver
