// Identifiers of the loader window's controls and of the sequencer's step timers.
#pragma once

namespace loader {

namespace controls {
constexpr int kExit = 1004;
constexpr int kStatus = 1005;
constexpr int kOpenBin = 1006;
constexpr int kConnect = 1007;
constexpr int kFileName = 1012;
constexpr int kFileSize = 1013;
constexpr int kTotalBar = 1018;
constexpr int kSectorBar = 1019;
constexpr int kTransferRate = 1022;
constexpr int kErrorCount = 1023;
constexpr int kEstimatedTime = 1024;
constexpr int kElapsedTime = 1025;
} // namespace controls

namespace steps {
constexpr int kConnectPoll = 1;
constexpr int kStartRun = 240;
constexpr int kCapacityQuery = 250;
constexpr int kBlankCheck = 252;
constexpr int kSendData = 253;
constexpr int kEraseSector = 254;
constexpr int kFinish = 255;

constexpr int kNextMs = 1;
constexpr int kRetryMs = 100;
constexpr int kPollMs = 100;
constexpr int kErrorBudget = 10;
} // namespace steps

} // namespace loader
