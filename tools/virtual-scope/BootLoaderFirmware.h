#pragma once

#include "BootPacketParser.h"
#include "FlashModel.h"

#include <array>
#include <cstdint>

namespace vscope {

// The boot loader's answer to one BootPacket, acting on its flash.
class BootLoaderFirmware {
  public:
    struct Answer {
        std::array<std::uint8_t, 6> reply{};
        double deviceMs = 0;        // time the device itself needs (erase, program)
        bool endOfDownload = false; // the flash file is due
    };

    BootLoaderFirmware(FlashModel& flash, double eraseMs, double programMs)
        : m_flash(flash), m_eraseMs(eraseMs), m_programMs(programMs) {}

    Answer Handle(const BootPacket& packet);

  private:
    FlashModel& m_flash;
    double m_eraseMs;
    double m_programMs;
};

} // namespace vscope
