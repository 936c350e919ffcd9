#include "ReceiveQueue.h"

#include <algorithm>
#include <cstring>

namespace usbdriver {

size_t ReceiveQueue::Take(uint8_t* destination, size_t count) {
    count = std::min(count, m_size);
    if (count == 1) {
        // The capture program reads a whole frame one byte at a time.
        *destination = m_bytes[m_head];
    } else {
        const size_t first = std::min(count, kCapacity - m_head);
        std::memcpy(destination, m_bytes.data() + m_head, first);
        std::memcpy(destination + first, m_bytes.data(), count - first);
    }
    m_head = (m_head + count) % kCapacity;
    m_size -= count;
    if (m_size == 0)
        m_head = 0;
    return count;
}

uint8_t* ReceiveQueue::FreeSpan(size_t& length) {
    const size_t tail = (m_head + m_size) % kCapacity;
    length = tail >= m_head ? kCapacity - tail : m_head - tail;
    if (m_size == kCapacity)
        length = 0;
    return m_bytes.data() + tail;
}

} // namespace usbdriver
