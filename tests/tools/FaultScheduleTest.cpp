#include "FaultSchedule.h"

#include <gtest/gtest.h>

using vscope::Fault;
using vscope::FaultSchedule;

TEST(FaultSchedule, ExplicitFaultsHitOnlyTheirCommandsAndWin) {
    FaultSchedule s;
    ASSERT_EQ(s.AddExplicit("drop@2,5"), "");
    ASSERT_EQ(s.AddExplicit("late@3"), "");
    const Fault expected[] = {Fault::None, Fault::Drop, Fault::Late, Fault::None, Fault::Drop, Fault::None};
    for (std::uint64_t n = 1; n <= 6; ++n)
        EXPECT_EQ(s.At(n), expected[n - 1]) << "command " << n;
    for (const char* bad : {"melt@1", "drop@", "drop@0", "drop@1,x"})
        EXPECT_NE(s.AddExplicit(bad), "") << bad;
    // They win over a seeded schedule, even one that hits every command.
    ASSERT_EQ(s.SetRandom(1, 1, "noise"), "");
    EXPECT_EQ(s.At(3), Fault::Late);
    EXPECT_EQ(s.At(4), Fault::Noise);
}

TEST(FaultSchedule, SeededScheduleDependsOnlyOnSeedAndCommandNumber) {
    FaultSchedule a, b, c;
    ASSERT_EQ(a.SetRandom(42, 0.2, "drop,noise"), "");
    ASSERT_EQ(b.SetRandom(42, 0.2, "drop,noise"), "");
    ASSERT_EQ(c.SetRandom(43, 0.2, "drop,noise"), "");
    int hits = 0, differences = 0, drops = 0;
    for (std::uint64_t n = 1000; n >= 1; --n) { // asked in any order, same answer
        EXPECT_EQ(a.At(n), b.At(n));
        EXPECT_TRUE(a.At(n) == Fault::None || a.At(n) == Fault::Drop || a.At(n) == Fault::Noise);
        hits += a.At(n) != Fault::None;
        drops += a.At(n) == Fault::Drop;
        differences += a.At(n) != c.At(n);
    }
    EXPECT_TRUE(hits > 120 && hits < 280) << hits << " of 1000 commands hit at rate 0.2";
    EXPECT_TRUE(drops > 30 && drops < hits - 30) << drops << " of " << hits << " are drops: both kinds drawn";
    EXPECT_GT(differences, 50);
}
