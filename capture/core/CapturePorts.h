// The capture window as the capture logic sees it: a surface to repaint. (Timers,
// clock and message boxes are the app-support interfaces both programs share.)
#pragma once

namespace capture {

class WindowPort {
  public:
    virtual ~WindowPort() = default;
    // Repaint the whole client area from the canvas, without erasing first.
    virtual void InvalidateWindow() = 0;
};

} // namespace capture
