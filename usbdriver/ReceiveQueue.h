// The receive queue of one open device: bytes taken from the kernel and not
// yet read by the caller. It grows as bytes arrive (up to kMaxCapacity), so a
// caller that reads late still finds every byte received, and a one-byte read
// of a queued byte is a plain memory copy.
#ifndef USBDRIVER_RECEIVEQUEUE_H
#define USBDRIVER_RECEIVEQUEUE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace usbdriver {

class ReceiveQueue {
  public:
    // Room kept for one read() from the kernel; the tty layer hands over at
    // most a few KiB at a time.
    static constexpr size_t kInitialCapacity = 128 * 1024;
    // Past this the queue stops taking bytes from the kernel, whose own flow
    // control then holds the sender back.
    static constexpr size_t kMaxCapacity = 64 * 1024 * 1024;

    ReceiveQueue() : m_bytes(kInitialCapacity) {}

    size_t Size() const { return m_size; }
    bool Full() const { return m_size == kMaxCapacity; }
    void Clear() { m_head = m_size = 0; }
    // Empties the queue and gives its storage back.
    void Release() {
        Clear();
        std::vector<uint8_t>().swap(m_bytes);
    }

    // Copies up to count bytes out of the queue; returns how many.
    size_t Take(uint8_t* destination, size_t count);
    // The oldest byte, taken out of a queue that is not empty.
    uint8_t TakeOne() {
        const uint8_t byte = m_bytes[m_head];
        m_head = --m_size == 0 ? 0 : m_head + 1;
        return byte;
    }

    // Free space after the queued bytes, for a read() straight into the
    // queue (empty only when the queue is full); Commit tells how much of it
    // was filled.
    uint8_t* FreeSpan(size_t& length);
    void Commit(size_t length) { m_size += length; }

  private:
    std::vector<uint8_t> m_bytes;
    size_t m_head = 0; // index of the oldest byte
    size_t m_size = 0;
};

} // namespace usbdriver

#endif
