// One handle used from several threads, as callers of a bridge library often
// do: a reader that waits must not hold up the other calls, and closing the
// handle must end its wait. Also built under ThreadSanitizer.
#include "PtyPeer.h"

#include <atomic>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A read waiting (no time-out) in a thread of its own, and what it gave.
struct WaitingReader {
    FT_HANDLE handle;
    Bytes bytes;
    DWORD got = 0xDEAD;
    std::atomic<FT_STATUS> status{0xFFFF};
    std::atomic<bool> done{false};
    Clock::time_point endedAt;
    std::thread thread;

    WaitingReader(FT_HANDLE h, DWORD count) : handle(h), bytes(count) {
        thread = std::thread([this] {
            const FT_STATUS result = FT_Read(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got);
            endedAt = Clock::now();
            status = result;
            done = true;
        });
        std::this_thread::sleep_for(milliseconds(50)); // let it start waiting
    }
    ~WaitingReader() {
        if (thread.joinable())
            thread.join();
    }
};

TEST(ThreadedCallers, OtherCallsProceedWhileAReadWaits) {
    OpenedPeer peer;
    WaitingReader reader(peer.handle, 4);
    const auto start = Clock::now();
    EXPECT_EQ(Queued(peer.handle), 0u);
    EXPECT_EQ(FT_Purge(peer.handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    EXPECT_EQ(FT_SetTimeouts(peer.handle, 0, 1000), FT_OK);
    EXPECT_EQ(Write(peer.handle, {0x51, 0x42, 0x0D}), FT_OK);
    EXPECT_LT(Clock::now() - start, milliseconds(500)) << "a waiting read held up the other calls";
    EXPECT_FALSE(reader.done);
    EXPECT_EQ(peer.Receive(3), (Bytes{0x51, 0x42, 0x0D}));
    peer.Send({1, 2, 3, 4});
    reader.thread.join();
    EXPECT_EQ(reader.status, FT_OK);
    EXPECT_EQ(reader.bytes, (Bytes{1, 2, 3, 4}));
}

TEST(ThreadedCallers, ClosingFromAnotherThreadWakesTheReaderAtOnce) {
    OpenedPeer peer;
    WaitingReader reader(peer.handle, 1);
    const auto closedAt = Clock::now();
    ASSERT_EQ(FT_Close(peer.handle), FT_OK);
    reader.thread.join();
    EXPECT_NE(reader.status, FT_OK);
    EXPECT_LT(reader.endedAt - closedAt, milliseconds(100));
    // The lock went with the handle.
    ASSERT_EQ(FT_Open(0, &peer.handle), FT_OK);
}

// A stream read in one thread while another writes and asks for the queue
// status: every byte arrives once and in order.
TEST(ThreadedCallers, ReaderAndWriterThreadsShareAHandle) {
    OpenedPeer peer;
    ASSERT_EQ(FT_SetTimeouts(peer.handle, 5000, 1000), FT_OK);
    constexpr size_t kTotal = 64 * 1024;
    std::atomic<bool> reading{true};
    // The scope streams its bytes and takes in what the host writes.
    std::thread scope([&] {
        size_t sent = 0;
        while (reading) {
            uint8_t chunk[512];
            for (size_t i = 0; i < sizeof chunk; ++i)
                chunk[i] = static_cast<uint8_t>((sent + i) * 7);
            const size_t length = std::min(sizeof chunk, kTotal - sent);
            const ssize_t put = length > 0 ? write(peer.Master(), chunk, length) : 0;
            if (put > 0)
                sent += static_cast<size_t>(put);
            uint8_t sink[4096];
            while (read(peer.Master(), sink, sizeof sink) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread other([&] {
        while (reading) {
            DWORD queued = 0;
            EXPECT_EQ(FT_GetQueueStatus(peer.handle, &queued), FT_OK);
            EXPECT_EQ(Write(peer.handle, {0x55}), FT_OK);
        }
    });
    Bytes received;
    while (received.size() < kTotal) {
        const Bytes part =
            Read(peer.handle, static_cast<DWORD>(std::min<size_t>(1000, kTotal - received.size())));
        ASSERT_FALSE(part.empty());
        received.insert(received.end(), part.begin(), part.end());
    }
    reading = false;
    other.join();
    scope.join();
    ASSERT_EQ(received.size(), kTotal);
    for (size_t i = 0; i < kTotal; ++i)
        ASSERT_EQ(received[i], static_cast<uint8_t>(i * 7)) << "byte " << i;
}

} // namespace
