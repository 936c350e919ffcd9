#include "ScreenRequestScanner.h"

namespace vscope {

namespace {
constexpr std::uint8_t kRequest[3] = {0x51, 0x42, 0x0D};
}

ScreenRequestScanner::Result ScreenRequestScanner::Feed(const std::uint8_t* bytes, std::size_t count) {
    Result result;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        if (b == kRequest[m_matched]) {
            if (++m_matched == 3) {
                ++result.requests;
                m_matched = 0;
            }
            continue;
        }
        // The partial match is lost; the request has no repeated prefix, so
        // only the current byte can start a new one.
        result.ignored += m_matched;
        if (b == kRequest[0]) {
            m_matched = 1;
        } else {
            m_matched = 0;
            ++result.ignored;
        }
    }
    return result;
}

} // namespace vscope
