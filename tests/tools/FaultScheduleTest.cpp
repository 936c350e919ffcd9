#include "FaultSchedule.h"

#include <gtest/gtest.h>

using vscope::Fault;
using vscope::FaultSchedule;

TEST(FaultSchedule, ExplicitFaultsHitOnlyTheirCommands) {
    FaultSchedule s;
    ASSERT_EQ(s.AddExplicit("drop@2,5"), "");
    ASSERT_EQ(s.AddExplicit("late@3"), "");
    EXPECT_EQ(s.At(1), Fault::None);
    EXPECT_EQ(s.At(2), Fault::Drop);
    EXPECT_EQ(s.At(3), Fault::Late);
    EXPECT_EQ(s.At(5), Fault::Drop);
    EXPECT_EQ(s.At(6), Fault::None);
    EXPECT_NE(s.AddExplicit("melt@1"), "");
    EXPECT_NE(s.AddExplicit("drop@"), "");
    EXPECT_NE(s.AddExplicit("drop@0"), "");
    EXPECT_NE(s.AddExplicit("drop@1,x"), "");
}

TEST(FaultSchedule, SeededScheduleDependsOnlyOnSeedAndCommandNumber) {
    FaultSchedule a, b, c;
    ASSERT_EQ(a.SetRandom(42, 0.2, "drop,noise"), "");
    ASSERT_EQ(b.SetRandom(42, 0.2, "drop,noise"), "");
    ASSERT_EQ(c.SetRandom(43, 0.2, "drop,noise"), "");
    int hits = 0, differences = 0, drops = 0;
    for (std::uint64_t n = 1000; n >= 1; --n) {  // asked in any order, same answer
        EXPECT_EQ(a.At(n), b.At(n));
        hits += a.At(n) != Fault::None;
        drops += a.At(n) == Fault::Drop;
        differences += a.At(n) != c.At(n);
        EXPECT_TRUE(a.At(n) == Fault::None || a.At(n) == Fault::Drop || a.At(n) == Fault::Noise);
    }
    EXPECT_GT(hits, 120);
    EXPECT_LT(hits, 280);
    EXPECT_GT(drops, 30);
    EXPECT_LT(drops, hits - 30);
    EXPECT_GT(differences, 50);

    FaultSchedule withExplicit;
    ASSERT_EQ(withExplicit.SetRandom(1, 0, "drop"), "");
    ASSERT_EQ(withExplicit.AddExplicit("short@7"), "");
    EXPECT_EQ(withExplicit.At(7), Fault::Short);
    EXPECT_EQ(withExplicit.At(8), Fault::None);
    EXPECT_NE(withExplicit.SetRandom(1, 1.5, "drop"), "");
    EXPECT_NE(withExplicit.SetRandom(1, 0.5, "drop,fire"), "");
}
