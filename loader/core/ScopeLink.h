// Haldrin's one object for the scope: the link to device 0, the boot loader's
// commands and replies, the flash geometry and the firmware image.
#pragma once

#include "FirmwareImage.h"
#include "UsbPort.h"

#include <array>
#include <cstdint>
#include <string>

namespace loader {

class ScopeLink : public UsbPort {
  public:
    // Consecutive Connect calls that listed a device but could not open it.
    static std::int32_t s_openFailures;

    static constexpr std::uint32_t kInTransferSize = 4096;
    static constexpr std::uint32_t kReadTimeoutMs = 2000;
    static constexpr std::uint32_t kWriteTimeoutMs = 1000;
    static constexpr std::uint32_t kPurgeReceive = 1;

    // What Connect found.
    static constexpr int kReady = 1;  // the boot loader answered the hello
    static constexpr int kNotYet = 2; // poll again
    static constexpr int kGiveUp = 3; // listed but not openable, time after time
    // Consecutive failed opens after which Connect gives up.
    static constexpr int kOpenFailureLimit = 5;

    explicit ScopeLink(const usbdriver::DriverOperations& driver = usbdriver::LinkedDriverOperations());
    // Closes a handle that is still open, so the device is free for the next program.
    ~ScopeLink() override;

    void SendPacket(std::uint8_t command, int address, int length, const std::uint8_t* data);
    // Status byte of a complete 6-byte reply, else 0.
    std::uint8_t ReadReply();

    std::uint8_t EraseSector(int sector);
    std::uint8_t BlankCheck(int sector);
    // Refuses (0, nothing sent) a block outside the image buffer.
    std::uint8_t SendData(int block);
    std::uint8_t EndDownload();
    // 1 when acknowledged and the flash holds m_imageLength bytes, else 0.
    int QueryGeometry();

    std::string DeviceCountText();
    // kReady, kNotYet or kGiveUp.
    int Connect();

    ImageLoad LoadImage(const std::string& path) { return m_image.LoadImage(path); }
    void ClearImage() { m_image.ClearImage(); }
    const FirmwareImage& Image() const { return m_image; }
    int ImageLength() const { return m_image.Length(); }

    int BlocksPerSector() const { return m_blocksPerSector; }
    int SectorCount() const { return m_sectorCount; }
    const std::array<std::uint8_t, 6>& Reply() const { return m_reply; }

  private:
    // One boot-loader command: empty the receive queue, send, read the reply.
    // The purge makes a late reply or unsolicited bytes of an earlier command
    // unable to pass for this command's answer.
    std::uint8_t Command(std::uint8_t command, int address, int length, const std::uint8_t* data);

    std::array<std::uint8_t, 6> m_reply{};
    std::int32_t m_blocksPerSector = 0;
    std::int32_t m_sectorCount = 0;
    FirmwareImage m_image;
};

} // namespace loader
