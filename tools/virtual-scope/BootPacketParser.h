#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vscope {

struct BootPacket {
    std::uint8_t code = 0;
    unsigned address = 0;
    unsigned length = 0;
    std::vector<std::uint8_t> data;
    bool framingError = false; // end marker was not 0x03, or the length is impossible
};

// Reassembles BootPackets from a byte stream that may arrive in any pieces.
// Bytes outside a packet (before its 0x02) are counted as ignored.
class BootPacketParser {
  public:
    // Longest data field the boot loader accepts; a longer length field is a
    // framing error at once, so garbage cannot swallow the commands after it.
    static constexpr unsigned kMaxData = 2048;

    // Appends every packet completed by these bytes to out; returns the number
    // of bytes that were skipped as not part of a packet.
    std::size_t Feed(const std::uint8_t* bytes, std::size_t count, std::vector<BootPacket>& out);
    void Reset();

  private:
    enum class State { Idle, Header, Data, End };
    State m_state = State::Idle;
    std::uint8_t m_header[5] = {};
    unsigned m_headerCount = 0;
    BootPacket m_packet;
};

} // namespace vscope
