#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vscope {

// One boot-loader packet: 02, code, address (2 bytes, big-endian), length of
// the data field (2 bytes, big-endian), data, 03.
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
    static constexpr std::uint8_t kStartMarker = 0x02;
    static constexpr std::uint8_t kEndMarker = 0x03;
    // Longest data field the boot loader accepts; a longer length field is a
    // framing error at once, so garbage cannot swallow the commands after it.
    static constexpr unsigned kMaxData = 2048;

    // Appends every packet completed by these bytes to out; returns the number
    // of bytes that were skipped as not part of a packet.
    std::size_t Feed(const std::uint8_t* bytes, std::size_t count, std::vector<BootPacket>& out);
    void Reset();

  private:
    // Code, address and length: the bytes between the start marker and the data.
    static constexpr unsigned kHeaderBytes = 5;

    enum class State { Idle, Header, Data, End };
    State m_state = State::Idle;
    std::uint8_t m_header[kHeaderBytes] = {};
    unsigned m_headerCount = 0;
    BootPacket m_packet;
};

} // namespace vscope
