// The floor for Haldrin's download time: the same boot-loader command stream,
// through the same driver library to the same device, from a loop that does
// nothing else. Each command waits for its reply, then the loop sleeps 1 ms
// (100 ms after a failed step) before the next, as the protocol wants.
//
//   loader-bare-host IMAGE.BIN      downloads into device 0; 0 when completed
#include "BootPacket.h"
#include "FirmwareImage.h"
#include "ScopeLink.h"
#include "ftd2xx.h"

#include <cstdio>
#include <ctime>
#include <sys/prctl.h>
#include <vector>

using loader::BootPacket;
using loader::FirmwareImage;
using loader::ScopeLink;

namespace {

FT_HANDLE g_device = nullptr;
std::uint8_t g_reply[BootPacket::kReplyLength];

void SleepMs(long ms) {
    const timespec pause{ms / 1000, (ms % 1000) * 1000000L};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
}

// One command: purge, packet, 6-byte reply; its status byte, 0 when none came.
std::uint8_t Command(std::uint8_t code, int address, int length, const std::uint8_t* data) {
    FT_Purge(g_device, ScopeLink::kPurgeReceive);
    std::vector<std::uint8_t> packet = BootPacket::Build(code, address, length, data);
    DWORD sent = 0;
    FT_Write(g_device, packet.data(), static_cast<DWORD>(packet.size()), &sent);
    DWORD received = 0;
    FT_Read(g_device, g_reply, BootPacket::kReplyLength, &received);
    return received == BootPacket::kReplyLength ? g_reply[BootPacket::kStatusByte] : 0;
}

// One command, acknowledged.
bool Acknowledged(std::uint8_t code, int address, int length = 0, const std::uint8_t* data = nullptr) {
    return Command(code, address, length, data) == BootPacket::kAcknowledged;
}

// The step until it succeeds, 100 ms between tries, then the protocol's 1 ms.
template <typename Step> bool Succeed(Step step) {
    for (int tries = 0; tries <= 10; ++tries) {
        if (step()) {
            SleepMs(1);
            return true;
        }
        SleepMs(100);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_TIMERSLACK, 1000UL); // as Haldrin
    if (argc != 2) {
        std::fprintf(stderr, "usage: loader-bare-host IMAGE.BIN\n");
        return 2;
    }
    FirmwareImage image;
    if (image.LoadImage(argv[1]).outcome != loader::ImageLoad::Outcome::Loaded) {
        std::fprintf(stderr, "loader-bare-host: cannot load %s\n", argv[1]);
        return 2;
    }
    // Connect as Haldrin does: open device 0, set it up, say hello until answered.
    for (int tries = 0;; ++tries) {
        DWORD count = 0;
        FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
        if (count > 0 && FT_Open(0, &g_device) == FT_OK) {
            FT_SetUSBParameters(g_device, ScopeLink::kInTransferSize, 0);
            FT_ResetDevice(g_device);
            FT_SetTimeouts(g_device, ScopeLink::kReadTimeoutMs, ScopeLink::kWriteTimeoutMs);
            if (Command(BootPacket::kHello, 0, 0, nullptr) == BootPacket::kHelloAnswer)
                break;
            FT_Close(g_device);
        }
        if (tries == 100) {
            std::fprintf(stderr, "loader-bare-host: no boot loader answered\n");
            return 1;
        }
        SleepMs(100);
    }
    SleepMs(2); // Haldrin: the run starts 1 ms after the answer, the query 1 ms later

    int perSector = 0;
    const bool ok = Succeed([&] {
        if (!Acknowledged(BootPacket::kQueryGeometry, 0))
            return false;
        perSector = g_reply[BootPacket::kBlocksPerSectorByte];
        return perSector * g_reply[BootPacket::kSectorCountByte] * FirmwareImage::kBlockSize >=
               image.Length();
    });
    if (!ok || perSector == 0) {
        std::fprintf(stderr, "loader-bare-host: the geometry query failed\n");
        return 1;
    }
    const int last = image.Blocks(); // blocks 0 .. T, as Haldrin sends them
    for (int block = 0; block <= last; ++block) {
        const int sector = block / perSector;
        const bool written = (block % perSector != 0 ||
                              (Succeed([&] { return Acknowledged(BootPacket::kEraseSector, sector); }) &&
                               Succeed([&] { return Acknowledged(BootPacket::kBlankCheck, sector); }))) &&
                             Succeed([&] {
                                 return Acknowledged(BootPacket::kProgramBlock, block,
                                                     FirmwareImage::kBlockSize, image.Block(block));
                             });
        if (!written) {
            std::fprintf(stderr, "loader-bare-host: block %d failed\n", block);
            return 1;
        }
    }
    Command(BootPacket::kEndDownload, 0, 0, nullptr);
    FT_Close(g_device);
    return 0;
}
