// scopectl capture: asks the scope for its screen with Quorvex's own frame
// receive and rendering, and writes each picture as Quorvex's Save would.
#pragma once

#include "CaptureState.h"
#include "CommandLine.h"
#include "DriverTable.h"
#include "FrameReceiver.h"
#include "LinkReopener.h"
#include "PictureFile.h"
#include "ScreenCanvas.h"
#include "SteadyClock.h"
#include "StepTimers.h"

#include <QByteArray>

namespace scopectl {

class CaptureCommand : private capture::WindowPort {
  public:
    // How long one picture may take, retries after lost or spoilt replies included.
    static constexpr std::uint32_t kPictureTimeoutMs = 10000;

    explicit CaptureCommand(CaptureOptions options);
    ~CaptureCommand() override;

    // The exit status.
    int Run();

  private:
    void InvalidateWindow() override;
    bool OpenScope();
    // 0 when the picture was drawn, else the exit status.
    int TakePicture();
    QByteArray PictureBytes() const;
    int WritePicture(int number);
    bool WaitUntil(std::int64_t dueNs);

    CaptureOptions m_options;
    std::string m_extension; // "bmp" or "png"
    PictureFile m_files;
    capture::CaptureState m_state;
    capture::DriverTable m_driver;
    capture::ScreenCanvas m_canvas;
    appsupport::SteadyClock m_clock;
    capture::FrameReceiver m_receiver;
    capture::LinkReopener m_reopener{m_driver, m_state, m_receiver, m_clock};
    StepTimers m_timers;
    bool m_drawn = false;
};

} // namespace scopectl
