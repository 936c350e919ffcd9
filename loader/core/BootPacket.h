// The boot loader's framed command: 0x02, command, 16-bit address, 16-bit data
// length (both big-endian), the data, 0x03. No checksum, no byte stuffing.
#pragma once

#include <cstdint>
#include <vector>

namespace loader {

class BootPacket {
  public:
    static constexpr std::uint8_t kStx = 0x02;
    static constexpr std::uint8_t kEtx = 0x03;

    static constexpr std::uint8_t kHello = 0xFF;
    static constexpr std::uint8_t kEraseSector = 0xFE;
    static constexpr std::uint8_t kProgramBlock = 0xFD;
    static constexpr std::uint8_t kBlankCheck = 0xFC;
    static constexpr std::uint8_t kEndDownload = 0xFB;
    static constexpr std::uint8_t kQueryGeometry = 0xFA;

    // Reply: exactly 6 bytes; byte 2 the status, bytes 3 and 4 the geometry.
    static constexpr int kReplyLength = 6;
    static constexpr int kStatusByte = 2;
    static constexpr int kBlocksPerSectorByte = 3;
    static constexpr int kSectorCountByte = 4;
    static constexpr std::uint8_t kAcknowledged = 'A';
    static constexpr std::uint8_t kHelloAnswer = 'B';

    // Only the low 16 bits of address and length go on the wire.
    static std::vector<std::uint8_t> Build(std::uint8_t command, int address, int length,
                                           const std::uint8_t* data);

    static void PutBigEndian16(std::uint8_t* at, int value);
};

} // namespace loader
