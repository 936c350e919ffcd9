// The receive queue of one open device: bytes taken from the kernel and not
// yet read by the caller. Larger than the kernel's tty buffer (4 KiB), so a
// whole screen frame (8410 bytes) can wait here before the program reads it,
// and a one-byte read of a queued byte is a plain memory copy.
#ifndef USBDRIVER_RECEIVEQUEUE_H
#define USBDRIVER_RECEIVEQUEUE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace usbdriver {

class ReceiveQueue {
  public:
    static constexpr size_t kCapacity = 128 * 1024;

    ReceiveQueue() : m_bytes(kCapacity) {}

    size_t Size() const { return m_size; }
    size_t Free() const { return kCapacity - m_size; }
    void Clear() { m_head = m_size = 0; }

    // Copies up to count bytes out of the queue; returns how many.
    size_t Take(uint8_t* destination, size_t count);

    // The contiguous free space after the queued bytes, for a read() straight
    // into the queue; Commit tells how much of it was filled.
    uint8_t* FreeSpan(size_t& length);
    void Commit(size_t length) { m_size += length; }

  private:
    std::vector<uint8_t> m_bytes;
    size_t m_head = 0; // index of the oldest byte
    size_t m_size = 0;
};

} // namespace usbdriver

#endif
