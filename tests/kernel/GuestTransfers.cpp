#include "GuestSteps.h"
#include "GuestSupport.h"

#include <algorithm>

namespace guest {
namespace {

constexpr int kHellos = 20;
constexpr int kBlocks = 8;
constexpr int kFrames = 10;
constexpr size_t kBlockSize = 2048;
constexpr size_t kFrameSize = 8410;

FT_HANDLE OpenFirst(FT_STATUS& status) {
    FT_HANDLE handle = nullptr;
    status = FT_Open(0, &handle);
    if (status == FT_OK)
        FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
    return status == FT_OK ? handle : nullptr;
}

// A boot-loader packet: 02, code, block number, data length, data, 03.
Bytes Packet(uint8_t code, unsigned block, const Bytes& data) {
    Bytes packet(data.size() + 7);
    packet[0] = 0x02;
    packet[1] = code;
    packet[2] = static_cast<uint8_t>(block >> 8);
    packet[3] = static_cast<uint8_t>(block);
    packet[4] = static_cast<uint8_t>(data.size() >> 8);
    packet[5] = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), packet.begin() + 6);
    packet.back() = 0x03;
    return packet;
}

} // namespace

bool BootLoaderRoundTrips() {
    FT_STATUS status = FT_OK;
    FT_HANDLE handle = OpenFirst(status);
    if (!handle) {
        Report("hello-round-trip", false, "FT_Open " + std::to_string(status));
        return Report("block-round-trip", false, "FT_Open " + std::to_string(status));
    }
    std::vector<double> times;
    std::string problem;
    const Bytes hello = Packet(0xFF, 0, {});
    for (int i = 0; i < kHellos && problem.empty(); ++i) {
        const Exchange exchange = RoundTrip(handle, hello, 6);
        if (exchange.status != FT_OK || exchange.reply != Bytes{0x02, 0xFF, 'B', 0x00, 0x00, 0x03})
            problem = "status " + std::to_string(exchange.status) + ", reply " + Hex(exchange.reply);
        times.push_back(exchange.ms);
    }
    bool pass = Report("hello-round-trip", problem.empty(),
                       std::to_string(hello.size()) +
                           "-byte hello, 6-byte reply: " + (problem.empty() ? Spread(times) : problem));
    times.clear();
    problem.clear();
    for (unsigned block = 0; block < kBlocks && problem.empty(); ++block) {
        const Bytes command = Packet(0xFD, block, Bytes(kBlockSize, static_cast<uint8_t>(0x5A + block)));
        const Exchange exchange = RoundTrip(handle, command, 6);
        if (exchange.status != FT_OK || exchange.reply != Bytes{0x02, 0xFD, 'A', 0x00, 0x00, 0x03})
            problem = "block " + std::to_string(block) + ": status " + std::to_string(exchange.status) +
                      ", reply " + Hex(exchange.reply);
        times.push_back(exchange.ms);
    }
    pass = Report("block-round-trip", problem.empty(),
                  std::to_string(kBlockSize + 7) + "-byte program command, 6-byte reply: " +
                      (problem.empty() ? Spread(times) : problem)) &&
           pass;
    FT_Close(handle);
    return pass;
}

bool ScreenRoundTrips() {
    // The host swaps the firmware behind the device, which the guest sees as
    // an unplug and a plug: wait for a USB device of another number.
    const std::string before = FirstLine(UsbDeviceFolder() + "/devnum");
    Say("SYNC screen");
    const auto start = Clock::now();
    const bool swapped = WaitFor(
        [&] {
            const std::string folder = UsbDeviceFolder();
            return !folder.empty() && FirstLine(folder + "/devnum") != before && DeviceCount() == 1;
        },
        20000);
    if (!swapped)
        return Report("screen-round-trip", false, "no new device within 20 s");
    const double swapMs = MsSince(start);
    FT_STATUS status = FT_OK;
    FT_HANDLE handle = OpenFirst(status);
    if (!handle)
        return Report("screen-round-trip", false, "FT_Open " + std::to_string(status));
    std::vector<double> times;
    std::string problem;
    for (int i = 0; i < kFrames && problem.empty(); ++i) {
        const Exchange exchange = RoundTrip(handle, {0x51, 0x42, 0x0D}, kFrameSize);
        if (exchange.status != FT_OK || exchange.reply.size() != kFrameSize)
            problem = "status " + std::to_string(exchange.status) + ", " +
                      std::to_string(exchange.reply.size()) + " bytes";
        times.push_back(exchange.ms);
    }
    FT_Close(handle);
    return Report("screen-round-trip", problem.empty(),
                  "device back " + Ms(swapMs) + " after the request; 3-byte request, 8410-byte frame: " +
                      (problem.empty() ? Spread(times) : problem));
}

} // namespace guest
