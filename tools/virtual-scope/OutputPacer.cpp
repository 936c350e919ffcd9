#include "OutputPacer.h"

#include <cerrno>
#include <cmath>
#include <unistd.h>

namespace vscope {

namespace {
// The pace's time slot, as a full-speed bridge's USB frame: 1 ms.
constexpr std::int64_t kSlotUs = 1000;
constexpr double kSlotsPerSecond = 1000.0;
} // namespace

void OutputPacer::Push(std::uint64_t tag, std::vector<std::uint8_t> bytes) {
    m_queue.push_back(Segment{tag, std::move(bytes)});
}

std::size_t OutputPacer::Allowance(std::int64_t nowUs) const {
    if (m_rate <= 0)
        return SIZE_MAX;
    // Slot k (counted from 0 at the origin) may have sent (k + 1) slots' worth.
    const std::int64_t slot = (nowUs - m_originUs) / kSlotUs;
    const double total = std::floor(double(slot + 1) * m_rate / kSlotsPerSecond);
    const double left = total - double(m_sentSinceOrigin);
    return left > 0 ? std::size_t(left) : 0;
}

std::int64_t OutputPacer::NextWakeUs() const {
    if (m_queue.empty() || m_blocked || m_rate <= 0 || m_idle)
        return -1;
    // First slot k whose allowance covers one more byte.
    const double k = std::ceil(double(m_sentSinceOrigin + 1) * kSlotsPerSecond / m_rate) - 1;
    return m_originUs + std::int64_t(k) * kSlotUs;
}

bool OutputPacer::Pump(int fd, std::int64_t nowUs, std::vector<Done>& done) {
    while (!m_queue.empty() && !m_blocked) {
        if (m_idle) {
            m_idle = false;
            m_originUs = nowUs;
            m_sentSinceOrigin = 0;
        }
        Segment& front = m_queue.front();
        std::size_t want = front.bytes.size() - front.sent;
        const std::size_t allowed = Allowance(nowUs);
        if (allowed == 0)
            return true;
        if (want > allowed)
            want = allowed;
        if (want > 0) {
            const ssize_t n = write(fd, front.bytes.data() + front.sent, want);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    m_blocked = true;
                    return true;
                }
                return false;
            }
            front.sent += std::size_t(n);
            m_sentSinceOrigin += std::uint64_t(n);
        }
        if (front.sent == front.bytes.size()) {
            done.push_back(Done{front.tag, front.sent});
            m_queue.pop_front();
        }
    }
    if (m_queue.empty())
        m_idle = true;
    return true;
}

void OutputPacer::Abandon(std::vector<Done>& done) {
    for (const Segment& s : m_queue)
        done.push_back(Done{s.tag, s.sent});
    m_queue.clear();
    m_blocked = false;
    m_idle = true;
}

} // namespace vscope
