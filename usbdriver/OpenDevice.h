// One opened bridge device: its file descriptor (raw mode, locked against
// other users), its receive queue, time-outs and transfer sizes.
//
// Time-outs are in milliseconds, 0 meaning none (the default, and again after
// a reset): a read returns when every byte asked for has arrived or the
// time-out has run out, with FT_OK either way and the count telling which; a
// write likewise stops at its time-out with FT_OK and the count sent. Waits
// without a time-out still wake every kLivenessSlice to see whether the
// device is there.
//
// A device that has gone (hang-up, end of file, I/O error, its virtual link
// removed or pointing elsewhere, its tty gone) is noticed by every call that
// has to wait or talk to the kernel; from then on it holds no descriptor (so
// the replugged device can be opened again even while this object lives) and
// its calls fail with FT_IO_ERROR (the queue status too). Bytes that arrived
// before the loss stay in the queue: a read that they satisfy completely still
// succeeds; a read that needs more gets them and FT_IO_ERROR.
#ifndef USBDRIVER_OPENDEVICE_H
#define USBDRIVER_OPENDEVICE_H

#include "DeviceEntry.h"
#include "DeviceList.h"
#include "ReceiveQueue.h"
#include "SpinLock.h"
#include "ftd2xx.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace usbdriver {

class OpenDevice {
  public:
    // How long a wait without time-out sleeps before it checks whether the
    // device is still attached.
    static constexpr std::chrono::milliseconds kLivenessSlice{10};
    // How often a call that does not wait looks at the device node itself; a
    // removed link and a hung-up tty are seen at once in any case.
    static constexpr std::chrono::milliseconds kNodeCheckInterval{10};
    static constexpr ULONG kDefaultInTransferSize = 4096;

    struct OpenResult {
        std::unique_ptr<OpenDevice> device;
        FT_STATUS status = FT_OK;
        std::string diagnostic; // set when device is null
    };
    static OpenResult Open(const DeviceEntry& entry, DeviceList& list);

    ~OpenDevice();
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;

    FT_STATUS QueueStatus(DWORD* bytes);
    FT_STATUS Read(void* buffer, DWORD count, DWORD* received) {
        if (count == 1 && ReadOne(buffer, received))
            return FT_OK;
        return ReadWaiting(static_cast<uint8_t*>(buffer), count, received);
    }
    // A one-byte read served from the queue without a system call, when it
    // holds a byte (the capture program reads a frame byte by byte); false
    // when it is empty.
    bool ReadOne(void* buffer, DWORD* received) {
        std::lock_guard lock(m_mutex);
        if (m_queue.Size() == 0)
            return false;
        *static_cast<uint8_t*>(buffer) = m_queue.TakeOne();
        *received = 1;
        return true;
    }
    FT_STATUS Write(const void* buffer, DWORD count, DWORD* sent);
    FT_STATUS Purge(ULONG mask);
    FT_STATUS Reset();
    // 0 means no time-out: wait for as long as it takes.
    FT_STATUS SetTimeouts(ULONG readMs, ULONG writeMs);
    FT_STATUS SetUsbParameters(ULONG inSize, ULONG outSize);

    // Called when the handle is closed: a read or write still waiting in
    // another thread gives up at once (FT_IO_ERROR) instead of waiting on.
    void Abandon();

    // Gives up the descriptor and lock if the device has gone, without
    // waiting for a caller that is busy with it. True when it has gone.
    bool ReleaseIfGone();

  private:
    OpenDevice(const DeviceEntry& entry, DeviceList& list, int fd, int wakeFd, unsigned removals);

    using Clock = std::chrono::steady_clock;
    // Moves what the kernel has into the queue without blocking; false when
    // the device turned out to be gone.
    bool Fill();
    FT_STATUS ReadWaiting(uint8_t* out, DWORD count, DWORD* received);
    // force: look at the node now, however recently it was looked at.
    bool CheckAttached(bool force = false);
    void MarkGone();
    void CloseDescriptor();
    // Waits for readiness of the descriptor until deadline (or one slice),
    // with the state unlocked meanwhile; the descriptor is not closed under
    // a waiting caller, only marked to be closed when the last one is back.
    void Wait(std::unique_lock<SpinLock>& lock, short events, bool timed, Clock::time_point deadline);
    static bool ApplyLineSettings(int fd);

    std::mutex m_readMutex;  // one read at a time
    std::mutex m_writeMutex; // one write at a time
    SpinLock m_mutex;        // everything below (held only briefly, never across a wait)
    DeviceEntry m_entry;
    DeviceList& m_list;
    unsigned m_removalsAtOpen;
    int m_fd;
    // Signalled once, when the device is gone or abandoned, to end waits.
    int m_wakeFd;
    int m_waiters = 0;
    bool m_closePending = false;
    bool m_gone = false;
    std::atomic<bool> m_abandoned{false};
    Clock::time_point m_nextNodeCheck{};
    ReceiveQueue m_queue;
    ULONG m_readTimeoutMs = 0;
    ULONG m_writeTimeoutMs = 0;
    ULONG m_inTransferSize = kDefaultInTransferSize;
    ULONG m_outTransferSize = 0;
};

} // namespace usbdriver

#endif
