// The link and frame-in-flight state shared by the link watch and the frame receive step.
#pragma once

#include "ftd2xx.h"

#include <array>
#include <cstdint>

namespace capture {

inline constexpr int kScreenFrameBytes = 8410;

struct CaptureState {
    FT_HANDLE m_driverHandle = nullptr;
    std::int32_t m_disconnected = 0;
    std::int32_t m_requestPending = 0;
    std::int32_t m_singleShot = 0;
    // One frame and a spare byte that is never written.
    std::array<std::uint8_t, kScreenFrameBytes + 1> m_receiveBuffer{};
    // When the request in flight was sent (TickCount), for the stalled-request recovery.
    std::uint32_t m_requestSentAt = 0;
    // A driver call found the device gone (FT_IO_ERROR): the link watch reopens it,
    // silently, when the scope is still counted.
    bool m_linkFailed = false;
};

} // namespace capture
