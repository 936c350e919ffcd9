#include "BootLoaderFirmware.h"

namespace vscope {

namespace {

using Firmware = BootLoaderFirmware;

char StatusOf(FlashModel::Result result) {
    switch (result) {
    case FlashModel::Result::Ok:
        return Firmware::kAccepted;
    case FlashModel::Result::OutOfRange:
        return Firmware::kOutOfRange;
    case FlashModel::Result::NotErased:
        return Firmware::kNotErased;
    case FlashModel::Result::NotBlank:
        return Firmware::kNotBlank;
    case FlashModel::Result::WrongLength:
        return Firmware::kWrongLength;
    }
    return Firmware::kUnknownCode;
}

} // namespace

BootLoaderFirmware::Answer BootLoaderFirmware::Handle(const BootPacket& packet) {
    Answer answer;
    char status = kUnknownCode;
    std::uint8_t first = 0, second = 0;
    if (packet.framingError) {
        status = kFramingError;
    } else {
        switch (packet.code) {
        case kHello:
            status = kHelloAnswer;
            break;
        case kGeometry:
            status = kAccepted;
            first = std::uint8_t(m_flash.BlocksPerSector());
            second = std::uint8_t(m_flash.SectorCount());
            break;
        case kErase:
            status = StatusOf(m_flash.EraseSector(packet.address));
            if (status == kAccepted)
                answer.deviceMs = m_eraseMs;
            break;
        case kBlankCheck:
            status = StatusOf(m_flash.BlankCheck(packet.address));
            break;
        case kProgram:
            status = StatusOf(m_flash.ProgramBlock(packet.address, packet.data.data(), packet.data.size()));
            if (status == kAccepted)
                answer.deviceMs = m_programMs;
            break;
        case kEndOfDownload:
            status = kAccepted;
            answer.endOfDownload = true;
            break;
        default:
            break;
        }
    }
    answer.reply = MakeReply(packet.code, status, first, second);
    return answer;
}

} // namespace vscope
