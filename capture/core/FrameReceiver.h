// The screen exchange: the three-byte request, the frame receive step of every
// tick, the drawing of a frame into the canvas, and the real-time/single-shot modes.
#pragma once

#include "CapturePorts.h"
#include "CaptureState.h"
#include "Clock.h"
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
    // After a lost, stalled or spoilt reply, the link must have been quiet this long
    // (a frame's wire time is about 9 ms) before the next request, so that no rest of
    // an old reply runs into the new one.
    static constexpr std::uint32_t kQuietBeforeRetryMs = 20;
    // While the link may still carry bytes of an earlier reply, a complete frame is
    // read only once the count has stayed at exactly one frame this long.
    static constexpr std::uint32_t kSettleMs = 5;

    FrameReceiver(CaptureState& state, DriverTable& driver, ScreenCanvas& canvas, WindowPort& window,
                  appsupport::Clock& clock);

    void StartRealTime();
    void CaptureOnce();
    void StopCapture();

    void RequestScreen();
    void ReceiveFrame();
    void RenderFrame();
    // The device was opened again: a request in flight went with the old one, so
    // real time asks again once the new link has been quiet for a moment.
    void LinkReopened();

    // Frames drawn since start, for measurements.
    unsigned FramesDrawn() const { return m_framesDrawn; }

  private:
    bool RequestStalled(DWORD waiting);
    void DiscardWaitingBytes(DWORD waiting);
    // Gives up the request in flight and clears the link before asking again.
    void BeginRecovery(DWORD waiting);
    void Recover(DWORD waiting);
    bool FrameSettled();
    void NoteStatus(FT_STATUS status);

    CaptureState& m_state;
    DriverTable& m_driver;
    ScreenCanvas& m_canvas;
    WindowPort& m_window;
    appsupport::Clock& m_clock;
    unsigned m_framesDrawn = 0;
    // The queue may hold bytes of more than one reply: true after any anomaly,
    // until a frame has been read that nothing followed.
    bool m_suspect = false;
    // Draining and waiting for a quiet link before the next request.
    bool m_recovering = false;
    DWORD m_lastWaiting = 0;
    std::uint32_t m_lastChangeAt = 0;
};

} // namespace capture
