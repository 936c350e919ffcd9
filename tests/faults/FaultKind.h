// The kinds of trouble a fault schedule puts between Haldrin and the scope.
#pragma once

#include <array>
#include <string>

enum class FaultKind {
    Drop,         // no reply at all
    Short,        // a reply of 3 bytes instead of 6
    Status,       // a complete reply with a wrong status byte
    Late,         // the reply comes after the host's read time-out
    Noise,        // the reply, then a stray reply-like packet
    Unplug,       // the scope goes away for good
    UnplugReplug, // the scope goes away and comes back
    Busy          // another program holds the device
};

constexpr int kFaultKindCount = 8;

constexpr std::array<FaultKind, kFaultKindCount> kAllFaultKinds = {
    FaultKind::Drop,  FaultKind::Short,  FaultKind::Status,       FaultKind::Late,
    FaultKind::Noise, FaultKind::Unplug, FaultKind::UnplugReplug, FaultKind::Busy};

// "drop", "short", "status", "late", "noise" (the virtual scope's own names),
// "unplug", "unplug+replug", "busy".
const char* FaultKindName(FaultKind kind);
// True for the kinds the virtual scope applies to a single reply.
bool IsReplyFault(FaultKind kind);
