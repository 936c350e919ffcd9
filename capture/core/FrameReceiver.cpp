#include "FrameReceiver.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace capture {

namespace {
const std::uint8_t kScreenRequest[3] = {0x51, 0x42, 0x0D};
constexpr int kHeaderBytes = 10;
constexpr int kLines = 240;
constexpr int kBytesPerLine = 35;
} // namespace

FrameReceiver::FrameReceiver(CaptureState& state, DriverTable& driver, ScreenCanvas& canvas,
                             WindowPort& window, appsupport::Clock& clock)
    : m_state(state), m_driver(driver), m_canvas(canvas), m_window(window), m_clock(clock) {}

void FrameReceiver::StartRealTime() {
    m_state.m_singleShot = 0;
    RequestScreen();
}

void FrameReceiver::CaptureOnce() {
    m_state.m_singleShot = 1;
    RequestScreen();
}

void FrameReceiver::StopCapture() {
    m_state.m_singleShot = 1;
}

void FrameReceiver::RequestScreen() {
    if (m_state.m_requestPending != 0)
        return;
    m_state.m_requestPending = 1;
    m_state.m_requestSentAt = m_clock.TickCount();
    // Whatever is waiting now cannot belong to this request (a late reply, a stray
    // byte); left in the queue it would keep the count from ever being 8410. More of
    // it may still be on its way, so the reply to this request is read with care.
    DWORD waiting = 0;
    if (m_state.m_driverHandle != nullptr) {
        const FT_STATUS status = m_driver.m_getQueueStatus(m_state.m_driverHandle, &waiting);
        NoteStatus(status);
        if (status == FT_OK && waiting > 0) {
            DiscardWaitingBytes(waiting);
            m_suspect = true;
        }
    }
    m_recovering = false;
    m_lastWaiting = 0;
    m_lastChangeAt = m_state.m_requestSentAt;
    DWORD written = 0;
    NoteStatus(
        m_driver.m_write(m_state.m_driverHandle, const_cast<std::uint8_t*>(kScreenRequest), 3, &written));
}

bool FrameReceiver::RequestStalled(DWORD waiting) {
    // A complete frame is taken however late it is (the thread may have been held up).
    if (m_state.m_requestPending != 1 || waiting == static_cast<DWORD>(kScreenFrameBytes))
        return false;
    if (waiting > static_cast<DWORD>(kScreenFrameBytes))
        return true;
    return m_clock.TickCount() - m_state.m_requestSentAt > kStalledRequestMs;
}

// The six bound entries have no purge, and binding must not come to depend on a
// seventh; reading exactly the bytes reported waiting returns at once and has the
// same effect.
void FrameReceiver::DiscardWaitingBytes(DWORD waiting) {
    std::vector<std::uint8_t> sink(std::min(waiting, kDrainChunkBytes));
    DWORD read = 0;
    NoteStatus(m_driver.m_read(m_state.m_driverHandle, sink.data(), static_cast<DWORD>(sink.size()), &read));
}

void FrameReceiver::LinkReopened() {
    m_lastWaiting = 0;
    if (m_state.m_requestPending == 1)
        BeginRecovery(0);
}

void FrameReceiver::BeginRecovery(DWORD waiting) {
    if (waiting > 0)
        DiscardWaitingBytes(waiting);
    m_state.m_requestPending = 0;
    m_suspect = true;
    m_recovering = true;
    m_lastChangeAt = m_clock.TickCount();
}

// Drains whatever arrives; once nothing has come for a while, real time asks again.
void FrameReceiver::Recover(DWORD waiting) {
    if (waiting > 0) {
        DiscardWaitingBytes(waiting);
        m_lastChangeAt = m_clock.TickCount();
        return;
    }
    if (m_clock.TickCount() - m_lastChangeAt < kQuietBeforeRetryMs)
        return;
    m_recovering = false;
    if (m_state.m_singleShot == 0)
        RequestScreen();
}

// Bytes of an old reply followed by the new one pass through 8410 on their way up;
// a count that stays there is one reply.
bool FrameReceiver::FrameSettled() {
    return !m_suspect || m_clock.TickCount() - m_lastChangeAt >= kSettleMs;
}

void FrameReceiver::NoteStatus(FT_STATUS status) {
    if (status == FT_IO_ERROR)
        m_state.m_linkFailed = true;
}

void FrameReceiver::ReceiveFrame() {
    if (m_state.m_driverHandle == nullptr)
        return;
    DWORD waiting = 0;
    const FT_STATUS queueStatus = m_driver.m_getQueueStatus(m_state.m_driverHandle, &waiting);
    NoteStatus(queueStatus);
    if (queueStatus != FT_OK)
        return;
    if (waiting != m_lastWaiting) {
        m_lastWaiting = waiting;
        m_lastChangeAt = m_clock.TickCount();
    }
    if (m_recovering) {
        Recover(waiting);
        return;
    }
    if (RequestStalled(waiting)) {
        BeginRecovery(waiting);
        return;
    }
    if (static_cast<std::int32_t>(waiting) <= 0)
        return;
    if (m_state.m_requestPending != 1)
        return;
    if (waiting != static_cast<DWORD>(kScreenFrameBytes) || !FrameSettled())
        return;

    FT_STATUS status = FT_OK;
    const auto readOne = m_driver.m_read;
    const FT_HANDLE handle = m_state.m_driverHandle;
    std::uint8_t* const buffer = m_state.m_receiveBuffer.data();
    for (int i = 0; i < kScreenFrameBytes; ++i) {
        DWORD read = 0;
        status = readOne(handle, buffer + i, 1, &read);
    }
    m_state.m_requestPending = 0;
    m_lastWaiting = 0;
    NoteStatus(status);
    if (status != FT_OK)
        return;
    // Bytes right behind the frame: it may hold the rest of an earlier reply.
    DWORD behind = 0;
    if (m_driver.m_getQueueStatus(m_state.m_driverHandle, &behind) == FT_OK && behind > 0) {
        BeginRecovery(behind);
        return;
    }
    m_suspect = false;
    RenderFrame();
    if (m_state.m_singleShot == 0)
        RequestScreen();
}

void FrameReceiver::RenderFrame() {
    m_canvas.Rectangle(ScreenCanvas::kScreenArea);
    // Line L is canvas column 240 - L, its pixel P row 1 + P; written straight into
    // the scan lines, byte by byte, visiting only the set bits: a set-pixel call
    // per bit is what would cost here, and most of a scope's picture is light.
    if (!m_canvas.IsCreated())
        return;
    QImage& image = m_canvas.MutableImage();
    uchar* const firstRow = image.bits() + image.bytesPerLine(); // row 1
    const qsizetype stride = image.bytesPerLine();
    const std::uint8_t* pixels = m_state.m_receiveBuffer.data() + kHeaderBytes;
    const QRgb black = qRgb(0, 0, 0);
    for (int line = 0; line < kLines; ++line) {
        const std::uint8_t* bytes = pixels + line * kBytesPerLine;
        uchar* column = firstRow + (240 - line) * static_cast<qsizetype>(sizeof(QRgb));
        for (int byte = 0; byte < kBytesPerLine; ++byte) {
            for (unsigned bits = bytes[byte]; bits != 0; bits &= bits - 1) {
                const int p = byte * 8 + 7 - std::countr_zero(bits); // lowest set bit first
                *reinterpret_cast<QRgb*>(column + p * stride) = black;
            }
        }
    }
    ++m_framesDrawn;
    m_window.InvalidateWindow();
}

} // namespace capture
