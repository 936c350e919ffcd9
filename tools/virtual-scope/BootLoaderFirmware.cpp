#include "BootLoaderFirmware.h"

namespace vscope {

namespace {

char StatusOf(FlashModel::Result result, char refusedNotBlank) {
    switch (result) {
    case FlashModel::Result::Ok:
        return 'A';
    case FlashModel::Result::OutOfRange:
        return 'R';
    case FlashModel::Result::NotErased:
        return 'P';
    case FlashModel::Result::NotBlank:
        return refusedNotBlank;
    case FlashModel::Result::WrongLength:
        return 'L';
    }
    return 'U';
}

} // namespace

BootLoaderFirmware::Answer BootLoaderFirmware::Handle(const BootPacket& packet) {
    Answer answer;
    char status = 'U';
    std::uint8_t b3 = 0, b4 = 0;
    if (packet.framingError) {
        status = 'F';
    } else {
        switch (packet.code) {
        case 0xFF:
            status = 'B';
            break;
        case 0xFA:
            status = 'A';
            b3 = std::uint8_t(m_flash.BlocksPerSector());
            b4 = std::uint8_t(m_flash.SectorCount());
            break;
        case 0xFE:
            status = StatusOf(m_flash.EraseSector(packet.address), 'C');
            if (status == 'A')
                answer.deviceMs = m_eraseMs;
            break;
        case 0xFC:
            status = StatusOf(m_flash.BlankCheck(packet.address), 'C');
            break;
        case 0xFD:
            status =
                StatusOf(m_flash.ProgramBlock(packet.address, packet.data.data(), packet.data.size()), 'C');
            if (status == 'A')
                answer.deviceMs = m_programMs;
            break;
        case 0xFB:
            status = 'A';
            answer.endOfDownload = true;
            break;
        default:
            status = 'U';
            break;
        }
    }
    answer.reply = {0x02, packet.code, std::uint8_t(status), b3, b4, 0x03};
    return answer;
}

} // namespace vscope
