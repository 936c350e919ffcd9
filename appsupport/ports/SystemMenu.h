// The about entry of the window's system menu: its identifier, and the rule by
// which a system command opens the about box (the low four bits are the
// window system's own).
#pragma once

namespace appsupport {

inline constexpr int kAboutCommand = 16;

inline bool IsAboutCommand(int systemCommand) {
    return (systemCommand & 0xFFF0) == kAboutCommand;
}

} // namespace appsupport
