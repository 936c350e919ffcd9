// Reading and writing through an open bridge: time-outs, the receive queue,
// purge and reset.
#include "PtyPeer.h"
#include "ftd2xx.h"

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class Transfer : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(FT_Open(0, &m_handle), FT_OK); }
    void TearDown() override {
        if (m_handle)
            FT_Close(m_handle);
    }
    DWORD Queued() {
        DWORD queued = 0xDEAD;
        EXPECT_EQ(FT_GetQueueStatus(m_handle, &queued), FT_OK);
        return queued;
    }
    // Polls the queue status like the capture program does on its timer.
    DWORD QueuedReaches(DWORD expected) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        DWORD queued = Queued();
        while (queued < expected && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            queued = Queued();
        }
        return queued;
    }

    PtyPeer m_peer;
    FT_HANDLE m_handle = nullptr;
};

TEST_F(Transfer, ReadTimeOutGivesAShortReadOnlyWhenItExpires) {
    ASSERT_EQ(FT_SetTimeouts(m_handle, 200, 0), FT_OK);
    m_peer.Send({1, 2, 3});
    uint8_t buffer[6] = {};
    DWORD got = 99;
    const auto start = Clock::now();
    EXPECT_EQ(FT_Read(m_handle, buffer, 6, &got), FT_OK);
    const auto waited = Clock::now() - start;
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_GE(waited, std::chrono::milliseconds(190));
    EXPECT_LT(waited, std::chrono::seconds(5));

    // Nothing at all: zero bytes, still no error.
    EXPECT_EQ(FT_Read(m_handle, buffer, 1, &got), FT_OK);
    EXPECT_EQ(got, 0u);
}

TEST_F(Transfer, ReadWithoutTimeOutWaitsForEveryByte) {
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_peer.Send({0x02, 0x42});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_peer.Send({0x41, 0x00, 0x00, 0x03});
    });
    uint8_t reply[6] = {};
    DWORD got = 0;
    EXPECT_EQ(FT_Read(m_handle, reply, 6, &got), FT_OK);
    late.join();
    EXPECT_EQ(got, 6u);
    EXPECT_EQ(reply[5], 0x03);
}

TEST_F(Transfer, QueueHoldsAWholeFrameBeyondTheKernelBuffer) {
    std::vector<uint8_t> frame(8410);
    std::iota(frame.begin(), frame.end(), 0);
    std::thread sender([&] { m_peer.Send(frame); });
    EXPECT_EQ(QueuedReaches(8410), 8410u);
    sender.join();
    EXPECT_EQ(Queued(), 8410u);
    // Read one byte at a time, as the capture program does.
    std::vector<uint8_t> read(frame.size());
    for (size_t i = 0; i < read.size(); ++i) {
        DWORD got = 0;
        ASSERT_EQ(FT_Read(m_handle, &read[i], 1, &got), FT_OK);
        ASSERT_EQ(got, 1u);
    }
    EXPECT_EQ(read, frame);
    EXPECT_EQ(Queued(), 0u);
}

TEST_F(Transfer, PurgeDiscardsReceivedBytes) {
    m_peer.Send({9, 9, 9, 9});
    EXPECT_EQ(QueuedReaches(2), 4u);
    m_peer.Send({8, 8});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // The queue and what still waits in the kernel both go.
    EXPECT_EQ(FT_Purge(m_handle, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(Queued(), 0u);
    m_peer.Send({7});
    uint8_t byte = 0;
    DWORD got = 0;
    ASSERT_EQ(FT_SetTimeouts(m_handle, 1000, 0), FT_OK);
    EXPECT_EQ(FT_Read(m_handle, &byte, 1, &got), FT_OK);
    EXPECT_EQ(byte, 7);
    EXPECT_EQ(FT_Purge(m_handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    EXPECT_EQ(FT_Purge(m_handle, 4), FT_INVALID_PARAMETER);
}

TEST_F(Transfer, ResetPurgesAndForgetsTheTimeOuts) {
    ASSERT_EQ(FT_SetTimeouts(m_handle, 50, 50), FT_OK);
    m_peer.Send({1, 2, 3});
    EXPECT_EQ(QueuedReaches(3), 3u);
    EXPECT_EQ(FT_ResetDevice(m_handle), FT_OK);
    EXPECT_EQ(Queued(), 0u);
    // No time-out any more: the read waits until the byte comes.
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_peer.Send({4});
    });
    uint8_t byte = 0;
    DWORD got = 0;
    EXPECT_EQ(FT_Read(m_handle, &byte, 1, &got), FT_OK);
    late.join();
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(byte, 4);
}

TEST_F(Transfer, WriteStopsAtItsTimeOutWhenNobodyReads) {
    ASSERT_EQ(FT_SetTimeouts(m_handle, 0, 100), FT_OK);
    std::vector<uint8_t> lots(1 << 20, 0x55);
    DWORD written = 0;
    const auto start = Clock::now();
    EXPECT_EQ(FT_Write(m_handle, lots.data(), static_cast<DWORD>(lots.size()), &written), FT_OK);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, lots.size());
    // What was reported written is exactly what the peer can read.
    EXPECT_EQ(m_peer.Receive(lots.size(), 300).size(), written);
}

TEST_F(Transfer, GoneDeviceEndsABlockingReadAndFailsLaterCalls) {
    std::thread unplug([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_peer.Unlink();
    });
    uint8_t byte = 0;
    DWORD got = 7;
    const auto start = Clock::now();
    EXPECT_NE(FT_Read(m_handle, &byte, 1, &got), FT_OK);
    unplug.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(got, 0u);
    DWORD queued = 0;
    EXPECT_NE(FT_GetQueueStatus(m_handle, &queued), FT_OK);
    EXPECT_NE(FT_Write(m_handle, &byte, 1, &got), FT_OK);
    EXPECT_EQ(FT_Close(m_handle), FT_OK);
    m_handle = nullptr;
}

TEST_F(Transfer, HangUpEndsABlockingReadKeepingWhatArrivedBefore) {
    m_peer.Send({5, 6});
    EXPECT_EQ(QueuedReaches(2), 2u);
    std::thread hangUp([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_peer.CloseMaster();
    });
    uint8_t buffer[4] = {};
    DWORD got = 0;
    EXPECT_EQ(FT_Read(m_handle, buffer, 4, &got), FT_IO_ERROR);
    hangUp.join();
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buffer[1], 6);
}

TEST_F(Transfer, ClosingFromAnotherThreadEndsAWaitingRead) {
    std::thread closer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(FT_Close(m_handle), FT_OK);
    });
    uint8_t byte = 0;
    DWORD got = 0;
    EXPECT_NE(FT_Read(m_handle, &byte, 1, &got), FT_OK);
    closer.join();
    m_handle = nullptr;
    // The lock went with the handle.
    FT_HANDLE again = nullptr;
    EXPECT_EQ(FT_Open(0, &again), FT_OK);
    EXPECT_EQ(FT_Close(again), FT_OK);
}

} // namespace
