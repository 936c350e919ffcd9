#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace vscope {

// Sends bytes to the master side at the link's throughput: the bytes of each
// 1 ms slot go out in one write, as a full-speed bridge hands them to the host
// in USB frames. Writes the master refuses (EAGAIN) are kept and retried.
class OutputPacer {
  public:
    struct Done {
        std::uint64_t tag;
        std::size_t sent;
    };

    explicit OutputPacer(double bytesPerSecond) : m_rate(bytesPerSecond) {}

    void Push(std::uint64_t tag, std::vector<std::uint8_t> bytes);
    // Writes what the pace allows now; appends finished segments to done.
    // Returns false on a write error other than EAGAIN (the link is gone).
    bool Pump(int fd, std::int64_t nowUs, std::vector<Done>& done);
    // Forgets everything queued; reports each segment with what it had sent.
    void Abandon(std::vector<Done>& done);

    bool Empty() const { return m_queue.empty(); }
    bool Blocked() const { return m_blocked; }
    void Unblock() {
        m_blocked = false;
        m_idle = true;
    }
    // Microseconds of steady time when the pace allows the next byte, or -1
    // when nothing is waiting for the pace.
    std::int64_t NextWakeUs() const;

  private:
    struct Segment {
        std::uint64_t tag;
        std::vector<std::uint8_t> bytes;
        std::size_t sent = 0;
    };
    std::size_t Allowance(std::int64_t nowUs) const;

    double m_rate; // 0 = unlimited
    std::deque<Segment> m_queue;
    bool m_blocked = false;
    bool m_idle = true;
    std::int64_t m_originUs = 0;
    std::uint64_t m_sentSinceOrigin = 0;
};

} // namespace vscope
