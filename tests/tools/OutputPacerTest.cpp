#include "OutputPacer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using vscope::OutputPacer;

TEST(OutputPacer, KeepsEveryByteWhenTheWriteWouldBlock) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    OutputPacer pacer(0);
    std::vector<std::uint8_t> a(20000);
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] = std::uint8_t(i * 13);
    const std::vector<std::uint8_t> b(a.rbegin(), a.rbegin() + 300);
    pacer.Push(1, a);
    pacer.Push(2, b);
    std::vector<OutputPacer::Done> done;
    std::vector<std::uint8_t> received;
    std::uint8_t buf[8192];
    int blocked = 0;
    for (int round = 0; round < 1000 && !pacer.Empty(); ++round) {
        ASSERT_TRUE(pacer.Pump(fds[1], 0, done));
        if (const ssize_t n = read(fds[0], buf, 1500); n > 0) // less than the pipe holds
            received.insert(received.end(), buf, buf + n);
        if (pacer.Blocked()) {
            ++blocked;
            pacer.Unblock();
        }
    }
    EXPECT_GT(blocked, 0) << "the writes never hit a full pipe";
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        received.insert(received.end(), buf, buf + n);
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_EQ(received, a);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_TRUE(done[0].sent == 20000 && done[1].sent == 300) << done[0].sent << ", " << done[1].sent;
    close(fds[0]);
    close(fds[1]);
}

TEST(OutputPacer, SendsOneSlotOfBytesPerMillisecond) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    OutputPacer pacer(1000000); // 1000 bytes per 1 ms slot
    pacer.Push(7, std::vector<std::uint8_t>(2500, 0x11));
    std::vector<OutputPacer::Done> done;
    std::uint8_t buf[4096];
    // A first slot, nothing more within it, the rest two slots on: (time, bytes written, next wake-up).
    for (auto [us, bytes, wake] :
         {std::tuple{5000000, 1000, 5001000}, {5000999, -1, 5001000}, {5002000, 1500, -1}}) {
        ASSERT_TRUE(pacer.Pump(fds[1], us, done));
        EXPECT_EQ(read(fds[0], buf, sizeof buf), bytes) << "at " << us;
        EXPECT_EQ(pacer.NextWakeUs(), wake) << "at " << us;
    }
    EXPECT_EQ(done.size(), 1u);
    close(fds[0]);
    close(fds[1]);
}
