// Whether a download is writing the scope's flash, as the desktop is told it:
// while one runs the machine must not sleep. The sequencer says true when the
// run starts and false when it ends, halts or the window is left.
#pragma once

namespace loader {

class DownloadActivity {
  public:
    virtual ~DownloadActivity() = default;
    virtual void DownloadRunning(bool running) = 0;
};

} // namespace loader
