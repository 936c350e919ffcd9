#include "BootPacket.h"

#include <cstring>

namespace loader {

void BootPacket::PutBigEndian16(std::uint8_t* at, int value) {
    const auto bits = static_cast<std::uint32_t>(value);
    at[0] = static_cast<std::uint8_t>((bits >> 8) & 0xFF);
    at[1] = static_cast<std::uint8_t>(bits & 0xFF);
}

std::vector<std::uint8_t> BootPacket::Build(std::uint8_t command, int address, int length,
                                            const std::uint8_t* data) {
    const int dataLength = length > 0 ? length : 0;
    std::vector<std::uint8_t> packet(static_cast<std::size_t>(dataLength) + 7);
    packet[0] = kStx;
    packet[1] = command;
    PutBigEndian16(&packet[2], address);
    PutBigEndian16(&packet[4], length);
    if (dataLength > 0 && data)
        std::memcpy(&packet[6], data, static_cast<std::size_t>(dataLength));
    packet[6 + static_cast<std::size_t>(dataLength)] = kEtx;
    return packet;
}

} // namespace loader
