// One handle used from several threads, as callers of a bridge library often do. Also built
// under ThreadSanitizer.
#include "PtyPeer.h"

#include <atomic>
#include <future>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A read of count bytes waiting (no time-out) in a thread of its own: its status and end.
struct WaitingReader {
    WaitingReader(FT_HANDLE handle, DWORD count) : bytes(count) {
        result = std::async(std::launch::async, [this, handle] {
            DWORD got = 0;
            const FT_STATUS status = FT_Read(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got);
            return std::pair(status, Clock::now());
        });
        std::this_thread::sleep_for(milliseconds(50)); // let it start waiting
    }
    Bytes bytes;
    std::future<std::pair<FT_STATUS, Clock::time_point>> result;
};

// A waiting read holds up no other call, and closing the handle ends its wait. Then a stream is read in one
// thread while another writes and asks for the queue status: every byte arrives once and in order.
TEST(ThreadedCallers, AWaitingReadHoldsUpNoOtherCallClosingEndsItAndThreadsShareAStream) {
    OpenedPeer peer;
    WaitingReader reader(peer.handle, 4);
    const auto start = Clock::now();
    EXPECT_EQ(Queued(peer.handle), 0u);
    EXPECT_EQ(FT_Purge(peer.handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    EXPECT_EQ(FT_SetTimeouts(peer.handle, 0, 1000), FT_OK);
    EXPECT_EQ(Write(peer.handle, {0x51, 0x42, 0x0D}), FT_OK);
    EXPECT_LT(Clock::now() - start, milliseconds(500)) << "a waiting read held up the other calls";
    EXPECT_EQ(ReadUpTo(peer.Master(), 3), (Bytes{0x51, 0x42, 0x0D}));
    peer.Send({1, 2, 3, 4});
    EXPECT_EQ(reader.result.get().first, FT_OK);
    EXPECT_EQ(reader.bytes, (Bytes{1, 2, 3, 4})); // so it had waited until now
    WaitingReader closing(peer.handle, 1);
    const auto closedAt = Clock::now();
    ASSERT_EQ(FT_Close(peer.handle), FT_OK);
    const auto [status, endedAt] = closing.result.get();
    EXPECT_NE(status, FT_OK);
    EXPECT_LT(endedAt - closedAt, milliseconds(100));
    ASSERT_EQ(FT_Open(0, &peer.handle), FT_OK); // the lock went with the handle

    ASSERT_EQ(FT_SetTimeouts(peer.handle, 5000, 1000), FT_OK);
    constexpr size_t kTotal = 64 * 1024;
    std::atomic<bool> reading{true};
    // The scope streams its bytes and takes in what the host writes.
    std::thread scope([&] {
        for (size_t sent = 0; reading; std::this_thread::sleep_for(std::chrono::microseconds(200))) {
            uint8_t chunk[512], sink[4096];
            for (size_t i = 0; i < sizeof chunk; ++i)
                chunk[i] = static_cast<uint8_t>((sent + i) * 7);
            const size_t length = std::min(sizeof chunk, kTotal - sent);
            sent +=
                static_cast<size_t>(std::max<ssize_t>(length ? write(peer.Master(), chunk, length) : 0, 0));
            while (read(peer.Master(), sink, sizeof sink) > 0) {
            }
        }
    });
    std::thread other([&] {
        for (DWORD queued = 0; reading;) {
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
    for (size_t i = 0; i < kTotal; ++i)
        ASSERT_EQ(received[i], static_cast<uint8_t>(i * 7)) << "byte " << i;
}

} // namespace
