// Haldrin's download as the desktop sees it: while the flash is written the
// machine is kept from sleeping, and the taskbar entry follows the TOTAL bar.
// Every element change goes on to the window unchanged.
#pragma once

#include "DesktopServices.h"
#include "DownloadActivity.h"
#include "LoaderView.h"

namespace loader {

class DesktopDownload : public DownloadActivity, public LoaderView {
  public:
    // The program's desktop entry (its file name without ".desktop"): the
    // taskbar finds the window and its progress under it.
    static constexpr const char* kDesktopId = "org.automotivescope.Haldrin";

    explicit DesktopDownload(LoaderView& window);

    void DownloadRunning(bool running) override;

    void SetText(int control, const std::string& text) override { m_window.SetText(control, text); }
    void EnableButton(int control, bool enabled) override { m_window.EnableButton(control, enabled); }
    void SetBarRange(int control, int minimum, int maximum) override;
    void SetBarPosition(int control, int position) override;

  private:
    void ShowProgress();

    LoaderView& m_window;
    appsupport::SleepInhibitor m_inhibitor;
    appsupport::TaskbarProgress m_taskbar;
    bool m_running = false;
    int m_totalMinimum = 0;
    int m_totalMaximum = 100;
    int m_totalPosition = 0;
};

} // namespace loader
