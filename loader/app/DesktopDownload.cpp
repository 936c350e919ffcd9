#include "DesktopDownload.h"

#include "LoaderControls.h"

namespace loader {

DesktopDownload::DesktopDownload(LoaderView& window)
    : m_window(window), m_inhibitor(QStringLiteral("sleep:idle"), QStringLiteral("Haldrin"),
                                    QStringLiteral("Writing the scope's firmware")),
      m_taskbar(QString::fromLatin1(kDesktopId) + QStringLiteral(".desktop")) {}

void DesktopDownload::DownloadRunning(bool running) {
    m_running = running;
    if (running) {
        m_inhibitor.Take();
        ShowProgress();
    } else {
        m_inhibitor.Release();
        m_taskbar.Hide();
    }
}

void DesktopDownload::SetBarRange(int control, int minimum, int maximum) {
    m_window.SetBarRange(control, minimum, maximum);
    if (control == controls::kTotalBar) {
        m_totalMinimum = minimum;
        m_totalMaximum = maximum;
        ShowProgress();
    }
}

void DesktopDownload::SetBarPosition(int control, int position) {
    m_window.SetBarPosition(control, position);
    if (control == controls::kTotalBar) {
        m_totalPosition = position;
        ShowProgress();
    }
}

void DesktopDownload::ShowProgress() {
    if (!m_running)
        return;
    const int span = m_totalMaximum - m_totalMinimum;
    m_taskbar.Show(span > 0 ? double(m_totalPosition - m_totalMinimum) / span : 0.0);
}

} // namespace loader
