// The screen exchange: the three-byte request, the frame receive step of every
// tick, the drawing of a frame into the canvas, and the real-time/single-shot modes.
#pragma once

#include "CapturePorts.h"
#include "CaptureState.h"
#include "DriverTable.h"
#include "ScreenCanvas.h"

namespace capture {

class FrameReceiver {
  public:
    // A frame takes about 9 ms at the bridge's usual rate and under 0.8 s even at
    // 115200 baud; a request unanswered for longer than this has been lost.
    static constexpr std::uint32_t kStalledRequestMs = 1000;
    // Bytes discarded per tick while clearing a stale queue, so a tick stays short.
    static constexpr DWORD kDrainChunkBytes = 2 * kScreenFrameBytes;

    FrameReceiver(CaptureState& state, DriverTable& driver, ScreenCanvas& canvas, WindowPort& window,
                  ClockPort& clock);

    void StartRealTime();
    void CaptureOnce();
    void StopCapture();

    void RequestScreen();
    void ReceiveFrame();
    void RenderFrame();

    // Frames drawn since start, for measurements.
    unsigned FramesDrawn() const { return m_framesDrawn; }

  private:
    bool RequestStalled(DWORD waiting);
    void DiscardWaitingBytes(DWORD waiting);

    CaptureState& m_state;
    DriverTable& m_driver;
    ScreenCanvas& m_canvas;
    WindowPort& m_window;
    ClockPort& m_clock;
    unsigned m_framesDrawn = 0;
};

} // namespace capture
