// Identifiers of the capture window's controls.
#pragma once

namespace capture::controls {
constexpr int kOk = 1;     // hidden; the default button, so Enter ends the window
constexpr int kCancel = 2; // hidden; Escape ends the window
constexpr int kRealTime = 1000;
constexpr int kZoom = 1001;
constexpr int kScreenCapture = 1002;
constexpr int kStop = 1003;
constexpr int kPrint = 1004;
constexpr int kSave = 1005;
} // namespace capture::controls
