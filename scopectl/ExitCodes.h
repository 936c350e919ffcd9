// What scopectl's exit status tells a script.
#pragma once

namespace scopectl {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;  // the download halted, or the capture failed
constexpr int kExitUsage = 2;   // usage error, or a file that cannot be read or is refused
constexpr int kExitNoScope = 3; // no scope found, or it cannot be opened
constexpr int kExitInterrupted = 130;

} // namespace scopectl
