#include "TransferStatistics.h"

#include <cstdio>

namespace loader {

namespace {
constexpr std::int32_t kNoRateEstimate = 6039;
}

std::string TransferStatistics::MinutesSeconds(std::int32_t minutes, std::int32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d : %02d", minutes, seconds);
    return text;
}

std::string TransferStatistics::ErrorCountText(std::int32_t count) {
    char text[16];
    std::snprintf(text, sizeof text, "%3d", count);
    return text;
}

TransferStatistics TransferStatistics::Compute(std::int32_t elapsedMs, std::int32_t blocksSent,
                                               std::int32_t imageBlocks) {
    TransferStatistics s;
    if (elapsedMs > 0)
        s.rate = static_cast<std::int32_t>(static_cast<double>(blocksSent) * 2048.0 * 1000.0 / elapsedMs);
    s.estimateSeconds = s.rate != 0 ? (imageBlocks * 2048) / s.rate : kNoRateEstimate;
    s.elapsedText = MinutesSeconds(elapsedMs / 60000, (elapsedMs / 1000) % 60);
    s.estimatedText = MinutesSeconds(s.estimateSeconds / 60, s.estimateSeconds % 60);
    char text[32];
    std::snprintf(text, sizeof text, "%d,%03d CPS", s.rate / 1000, s.rate % 1000);
    s.rateText = text;
    return s;
}

} // namespace loader
