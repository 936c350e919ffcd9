#include "TransferStatistics.h"

#include <gtest/gtest.h>

using loader::TransferStatistics;

TEST(TransferStatistics, FormatsElapsedRateAndEstimate) {
    const std::tuple<std::int32_t, std::int32_t, std::int32_t, const char*, const char*, const char*>
        cases[] = {
            // Nothing acknowledged yet (also no time elapsed): rate 0 and the 6039 s estimate.
            {0, 0, 10, "00 : 00", "0,000 CPS", "100 : 39"},
            {0, 5, 10, "00 : 00", "0,000 CPS", "100 : 39"},
            {1500, 0, 10, "00 : 01", "0,000 CPS", "100 : 39"},
            {61500, 0, 1, "01 : 01", "0,000 CPS", "100 : 39"},
            {6000000, 0, 1, "100 : 00", "0,000 CPS", "100 : 39"},
            {999, 0, 0, "00 : 00", "0,000 CPS", "100 : 39"},
            // 32 blocks in 1000 ms: 65,536 bytes per second.
            {1000, 32, 64, "00 : 01", "65,536 CPS", "00 : 02"},
            {1000, 1, 1, "00 : 01", "2,048 CPS", "00 : 01"},
            // Truncation toward zero: 2048 * 1000 / 3 = 682666.67.
            {3, 1, 513, "00 : 00", "682,666 CPS", "00 : 01"},
            {4000, 513, 513, "00 : 04", "262,656 CPS", "00 : 04"},
            {1000, 1, 4095, "00 : 01", "2,048 CPS", "68 : 15"},
            {1000000, 1, 1, "16 : 40", "0,002 CPS", "17 : 04"},
        };
    for (const auto& [elapsedMs, blocksSent, imageBlocks, elapsed, rate, estimated] : cases) {
        SCOPED_TRACE(testing::Message() << elapsedMs << " ms, " << blocksSent << " blocks");
        const TransferStatistics s = TransferStatistics::Compute(elapsedMs, blocksSent, imageBlocks);
        EXPECT_EQ(s.elapsedText, elapsed);
        EXPECT_EQ(s.rateText, rate);
        EXPECT_EQ(s.estimatedText, estimated);
    }
}
