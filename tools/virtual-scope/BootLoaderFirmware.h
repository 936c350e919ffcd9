#pragma once

#include "BootPacketParser.h"
#include "FlashModel.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace vscope {

// The boot loader's answer to one BootPacket, acting on its flash.
class BootLoaderFirmware {
  public:
    // Command codes.
    static constexpr std::uint8_t kHello = 0xFF;
    static constexpr std::uint8_t kGeometry = 0xFA; // reply carries blocks per sector and sectors
    static constexpr std::uint8_t kErase = 0xFE;    // address: sector
    static constexpr std::uint8_t kBlankCheck = 0xFC;
    static constexpr std::uint8_t kProgram = 0xFD; // address: block; data: one whole block
    static constexpr std::uint8_t kEndOfDownload = 0xFB;

    // Reply statuses.
    static constexpr char kAccepted = 'A';
    static constexpr char kHelloAnswer = 'B';
    static constexpr char kNotBlank = 'C';
    static constexpr char kFramingError = 'F';
    static constexpr char kWrongLength = 'L';
    static constexpr char kNotErased = 'P';
    static constexpr char kOutOfRange = 'R';
    static constexpr char kUnknownCode = 'U';

    // A reply: start marker, the command's code, status, two values, end marker.
    using Reply = std::array<std::uint8_t, 6>;
    static constexpr std::size_t kStatusIndex = 2;

    struct Answer {
        Reply reply{};
        double deviceMs = 0;        // time the device itself needs (erase, program)
        bool endOfDownload = false; // the flash file is due
    };

    BootLoaderFirmware(FlashModel& flash, double eraseMs, double programMs)
        : m_flash(flash), m_eraseMs(eraseMs), m_programMs(programMs) {}

    static constexpr Reply MakeReply(std::uint8_t code, char status, std::uint8_t first = 0,
                                     std::uint8_t second = 0) {
        return {BootPacketParser::kStartMarker, code, std::uint8_t(status), first, second,
                BootPacketParser::kEndMarker};
    }
    Answer Handle(const BootPacket& packet);

  private:
    FlashModel& m_flash;
    double m_eraseMs;
    double m_programMs;
};

} // namespace vscope
