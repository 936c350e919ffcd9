#include "OutputPacer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using vscope::OutputPacer;

TEST(OutputPacer, KeepsEveryByteWhenTheReaderFallsBehind) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    OutputPacer pacer(0);
    std::vector<std::uint8_t> a(20000), b(300);
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] = std::uint8_t(i * 13);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = std::uint8_t(i + 1);
    pacer.Push(1, a);
    pacer.Push(2, b);

    std::vector<OutputPacer::Done> done;
    std::vector<std::uint8_t> received;
    for (int round = 0; round < 1000 && !pacer.Empty(); ++round) {
        ASSERT_TRUE(pacer.Pump(fds[1], 0, done));
        std::uint8_t buf[1500];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0)
            received.insert(received.end(), buf, buf + n);
        if (pacer.Blocked())
            pacer.Unblock();
    }
    std::uint8_t buf[8192];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        received.insert(received.end(), buf, buf + n);
    std::vector<std::uint8_t> expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(received, expected);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].tag, 1u);
    EXPECT_EQ(done[0].sent, a.size());
    EXPECT_EQ(done[1].sent, b.size());
    close(fds[0]);
    close(fds[1]);
}

TEST(OutputPacer, SendsOneSlotOfBytesPerMillisecond) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    OutputPacer pacer(1000000);  // 1000 bytes per 1 ms slot
    pacer.Push(7, std::vector<std::uint8_t>(2500, 0x11));
    std::vector<OutputPacer::Done> done;
    const std::int64_t t0 = 5000000;
    ASSERT_TRUE(pacer.Pump(fds[1], t0, done));
    std::uint8_t buf[4096];
    EXPECT_EQ(read(fds[0], buf, sizeof buf), 1000);
    EXPECT_EQ(pacer.NextWakeUs(), t0 + 1000);
    ASSERT_TRUE(pacer.Pump(fds[1], t0 + 999, done));
    EXPECT_EQ(read(fds[0], buf, sizeof buf), -1) << "nothing more within the first slot";
    ASSERT_TRUE(pacer.Pump(fds[1], t0 + 2000, done));
    EXPECT_EQ(read(fds[0], buf, sizeof buf), 1500);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].tag, 7u);
    EXPECT_TRUE(pacer.Empty());
    close(fds[0]);
    close(fds[1]);
}
