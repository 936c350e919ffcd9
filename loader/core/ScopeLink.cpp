#include "ScopeLink.h"

#include "BootPacket.h"

#include <cstdio>

namespace loader {

std::int32_t ScopeLink::s_openFailures = 0;

ScopeLink::ScopeLink(const usbdriver::DriverOperations& driver) : UsbPort(driver) {}

ScopeLink::~ScopeLink() {
    Close();
}

void ScopeLink::SendPacket(std::uint8_t command, int address, int length, const std::uint8_t* data) {
    if (!IsOpen())
        return;
    const std::vector<std::uint8_t> packet = BootPacket::Build(command, address, length, data);
    std::uint32_t sent = 0;
    Write(packet.data(), static_cast<std::uint32_t>(packet.size()), &sent);
}

std::uint8_t ScopeLink::ReadReply() {
    std::uint32_t received = 0;
    Read(m_reply.data(), BootPacket::kReplyLength, &received);
    if (received != BootPacket::kReplyLength)
        return 0;
    return m_reply[BootPacket::kStatusByte];
}

std::uint8_t ScopeLink::Command(std::uint8_t command, int address, int length, const std::uint8_t* data) {
    Purge(kPurgeReceive);
    SendPacket(command, address, length, data);
    return ReadReply();
}

std::uint8_t ScopeLink::EraseSector(int sector) {
    return Command(BootPacket::kEraseSector, sector, 0, nullptr);
}

std::uint8_t ScopeLink::BlankCheck(int sector) {
    return Command(BootPacket::kBlankCheck, sector, 0, nullptr);
}

std::uint8_t ScopeLink::SendData(int block) {
    const std::uint8_t* data = m_image.Block(block);
    if (!data)
        return 0;
    return Command(BootPacket::kProgramBlock, block, FirmwareImage::kBlockSize, data);
}

std::uint8_t ScopeLink::EndDownload() {
    return Command(BootPacket::kEndDownload, 0, 0, nullptr);
}

int ScopeLink::QueryGeometry() {
    if (Command(BootPacket::kQueryGeometry, 0, 0, nullptr) != BootPacket::kAcknowledged)
        return 0;
    m_blocksPerSector = m_reply[BootPacket::kBlocksPerSectorByte];
    m_sectorCount = m_reply[BootPacket::kSectorCountByte];
    const std::int32_t capacity = m_blocksPerSector * m_sectorCount * FirmwareImage::kBlockSize;
    return capacity >= m_image.Length() ? 1 : 0;
}

std::string ScopeLink::DeviceCountText() {
    char text[64];
    std::snprintf(text, sizeof text, "Not Connected... %d device is found", CountDevices());
    return text;
}

int ScopeLink::Connect() {
    switch (Open()) {
    case kNoDevice:
        s_openFailures = 0;
        return kNotYet;
    case kOpened:
        s_openFailures = 0;
        SetTransferSizes(kInTransferSize);
        ResetDevice();
        SetTimeouts(kReadTimeoutMs, kWriteTimeoutMs);
        Purge(kPurgeReceive);
        SendPacket(BootPacket::kHello, 0, 0, nullptr);
        return ReadReply() == BootPacket::kHelloAnswer ? kReady : kNotYet;
    default:
        ++s_openFailures;
        return s_openFailures > kOpenFailureLimit ? kGiveUp : kNotYet;
    }
}

} // namespace loader
