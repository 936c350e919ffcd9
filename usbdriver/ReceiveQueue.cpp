#include "ReceiveQueue.h"

#include <algorithm>
#include <cstring>

namespace usbdriver {

namespace {
// A read() is offered at least this much room unless the queue is full.
constexpr size_t kMinimumSpan = 16 * 1024;
} // namespace

size_t ReceiveQueue::Take(uint8_t* destination, size_t count) {
    count = std::min(count, m_size);
    if (count == 0)
        return 0;
    if (count == 1)
        *destination = m_bytes[m_head]; // the capture program reads a frame byte by byte
    else
        std::memcpy(destination, m_bytes.data() + m_head, count);
    m_head += count;
    m_size -= count;
    if (m_size == 0)
        m_head = 0;
    return count;
}

uint8_t* ReceiveQueue::FreeSpan(size_t& length) {
    if (m_bytes.size() - m_head - m_size < kMinimumSpan) {
        // Move the queued bytes to the front before growing the storage.
        if (m_head > 0) {
            std::memmove(m_bytes.data(), m_bytes.data() + m_head, m_size);
            m_head = 0;
        }
        if (m_bytes.size() - m_size < kMinimumSpan && m_bytes.size() < kMaxCapacity)
            m_bytes.resize(std::min(std::max(m_bytes.size() * 2, kInitialCapacity), kMaxCapacity));
    }
    length = std::min(m_bytes.size() - m_head - m_size, kMaxCapacity - m_size);
    return m_bytes.data() + m_head + m_size;
}

} // namespace usbdriver
