// Reading and writing through an open bridge: time-outs, purge and reset, a
// device that goes away, and the reopen after it comes back.
#include "PtyPeer.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(Transfer, ReadTimeOutGivesAShortReadOnlyWhenItExpires) {
    OpenedPeer peer;
    ASSERT_EQ(FT_SetTimeouts(peer.handle, 200, 0), FT_OK);
    peer.Send({1, 2, 3});
    const auto start = Clock::now();
    EXPECT_EQ(Read(peer.handle, 6), (Bytes{1, 2, 3}));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, milliseconds(190));
    EXPECT_LT(waited, std::chrono::seconds(5));
    // Nothing at all: zero bytes, still no error.
    EXPECT_EQ(Read(peer.handle, 1), Bytes{});
}

TEST(Transfer, PurgeDiscardsReceivedBytes) {
    OpenedPeer peer;
    peer.Send({9, 9, 9, 9});
    EXPECT_EQ(QueuedReaches(peer.handle, 4), 4u);
    peer.Send({8, 8});
    std::this_thread::sleep_for(milliseconds(20));
    // The queue and what still waits in the kernel both go.
    EXPECT_EQ(FT_Purge(peer.handle, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(Queued(peer.handle), 0u);
    peer.Send({7});
    ASSERT_EQ(FT_SetTimeouts(peer.handle, 1000, 0), FT_OK);
    EXPECT_EQ(Read(peer.handle, 1), Bytes{7});
    EXPECT_EQ(FT_Purge(peer.handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    EXPECT_EQ(FT_Purge(peer.handle, 4), FT_INVALID_PARAMETER);
}

TEST(Transfer, ResetPurgesAndForgetsTheTimeOuts) {
    OpenedPeer peer;
    ASSERT_EQ(FT_SetTimeouts(peer.handle, 50, 50), FT_OK);
    peer.Send({1, 2, 3});
    EXPECT_EQ(QueuedReaches(peer.handle, 3), 3u);
    EXPECT_EQ(FT_ResetDevice(peer.handle), FT_OK);
    EXPECT_EQ(Queued(peer.handle), 0u);
    // No time-out any more: the read waits for every byte, however they trickle in.
    std::thread first = After(100, [&] { peer.Send({0x02, 0x42}); });
    std::thread second = After(250, [&] { peer.Send({0x41, 0x00, 0x00, 0x03}); });
    EXPECT_EQ(Read(peer.handle, 6), (Bytes{0x02, 0x42, 0x41, 0x00, 0x00, 0x03}));
    first.join();
    second.join();
}

TEST(Transfer, WriteStopsAtItsTimeOutWhenNobodyReads) {
    OpenedPeer peer;
    ASSERT_EQ(FT_SetTimeouts(peer.handle, 0, 100), FT_OK);
    Bytes lots(1 << 20, 0x55);
    DWORD written = 0;
    const auto start = Clock::now();
    EXPECT_EQ(FT_Write(peer.handle, lots.data(), static_cast<DWORD>(lots.size()), &written), FT_OK);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, lots.size());
    // What was reported written is exactly what the peer can read.
    EXPECT_EQ(peer.Receive(lots.size(), 300).size(), written);
}

TEST(Transfer, GoneDeviceEndsABlockingReadKeepingWhatArrivedBefore) {
    // Unplugged (its link removed) or hung up (the far side closed).
    for (const bool hangUp : {false, true}) {
        OpenedPeer peer;
        peer.Send({5, 6});
        EXPECT_EQ(QueuedReaches(peer.handle, 2), 2u);
        std::thread gone = After(100, [&] { hangUp ? peer.CloseMaster() : peer.Unlink(); });
        const auto start = Clock::now();
        EXPECT_EQ(Read(peer.handle, 4, FT_IO_ERROR), (Bytes{5, 6})) << hangUp;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        gone.join();
        DWORD queued = 0;
        EXPECT_EQ(FT_GetQueueStatus(peer.handle, &queued), FT_IO_ERROR);
        EXPECT_EQ(Write(peer.handle, {1}), FT_IO_ERROR);
        EXPECT_EQ(FT_Close(peer.handle), FT_OK);
    }
}

// Far more than any kernel buffer: the count keeps up with what arrived, and
// every byte can be read back in order.
TEST(Transfer, QueueStatusCountsEveryByteReceived) {
    OpenedPeer peer;
    constexpr DWORD kTotal = 200000;
    std::thread scope([&] {
        for (size_t sent = 0; sent < kTotal;) {
            uint8_t chunk[4096];
            for (size_t i = 0; i < sizeof chunk; ++i)
                chunk[i] = static_cast<uint8_t>((sent + i) % 251);
            pollfd item{peer.Master(), POLLOUT, 0};
            poll(&item, 1, 100);
            const ssize_t put = write(peer.Master(), chunk, std::min(sizeof chunk, kTotal - sent));
            if (put > 0)
                sent += static_cast<size_t>(put);
        }
    });
    EXPECT_EQ(QueuedReaches(peer.handle, kTotal), kTotal);
    scope.join();
    const Bytes all = Read(peer.handle, kTotal);
    ASSERT_EQ(all.size(), kTotal);
    for (size_t i = 0; i < kTotal; ++i)
        ASSERT_EQ(all[i], i % 251) << "byte " << i;
    EXPECT_EQ(Queued(peer.handle), 0u);
}

TEST(Transfer, NullBuffersAreRefusedEvenForZeroLengths) {
    OpenedPeer peer;
    DWORD count = 0xDEAD;
    EXPECT_EQ(FT_Read(peer.handle, nullptr, 0, &count), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Write(peer.handle, nullptr, 0, &count), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Read(peer.handle, nullptr, 1, &count), FT_INVALID_PARAMETER);
    uint8_t byte = 0;
    EXPECT_EQ(FT_Read(peer.handle, &byte, 1, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_GetQueueStatus(peer.handle, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Open(0, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
    // A zero-length read of a real buffer is fine.
    EXPECT_EQ(FT_Read(peer.handle, &byte, 0, &count), FT_OK);
    EXPECT_EQ(count, 0u);
}

// The capture program lists on every tick and reopens device 0 without
// closing the old handle, which may still hold the lock of the node that
// came back.
TEST(Reconnect, SamePseudoTerminalLinkedAgainOpensDespiteOldHandles) {
    PtyPeer peer;
    std::vector<FT_HANDLE> handles(1);
    ASSERT_EQ(FT_Open(0, &handles.back()), FT_OK);
    for (int round = 0; round < 3; ++round) {
        DWORD queued = 0;
        peer.Unlink();
        ASSERT_EQ(DeviceCount(), 0u);
        EXPECT_NE(FT_GetQueueStatus(handles.back(), &queued), FT_OK);
        peer.Link("scope0");
        ASSERT_EQ(DeviceCount(), 1u);
        // The old handle stays unusable though its node is back.
        EXPECT_NE(FT_GetQueueStatus(handles.back(), &queued), FT_OK);
        handles.emplace_back();
        ASSERT_EQ(FT_Open(0, &handles.back()), FT_OK) << "round " << round;
        ASSERT_EQ(FT_SetTimeouts(handles.back(), 2000, 1000), FT_OK);
        peer.Send({0x42});
        EXPECT_EQ(Read(handles.back(), 1), Bytes{0x42});
    }
    for (FT_HANDLE handle : handles)
        EXPECT_EQ(FT_Close(handle), FT_OK);
}

} // namespace
