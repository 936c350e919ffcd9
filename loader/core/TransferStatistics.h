// Elapsed time, transfer rate and estimated duration of a download, as shown.
#pragma once

#include <cstdint>
#include <string>

namespace loader {

struct TransferStatistics {
    std::int32_t rate = 0;            // bytes per second
    std::int32_t estimateSeconds = 0; // whole download, not the time remaining
    std::string elapsedText;          // "%02d : %02d"
    std::string estimatedText;        // "%02d : %02d"
    std::string rateText;             // "%d,%03d CPS"

    // With no time elapsed yet the rate is 0, which shows the estimate 6039 s.
    static TransferStatistics Compute(std::int32_t elapsedMs, std::int32_t blocksSent,
                                      std::int32_t imageBlocks);
    static std::string MinutesSeconds(std::int32_t minutes, std::int32_t seconds);
    // "%3d"
    static std::string ErrorCountText(std::int32_t count);
};

} // namespace loader
