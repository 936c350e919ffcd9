#include "FaultKind.h"

const char* FaultKindName(FaultKind kind) {
    switch (kind) {
    case FaultKind::Drop:
        return "drop";
    case FaultKind::Short:
        return "short";
    case FaultKind::Status:
        return "status";
    case FaultKind::Late:
        return "late";
    case FaultKind::Noise:
        return "noise";
    case FaultKind::Unplug:
        return "unplug";
    case FaultKind::UnplugReplug:
        return "unplug+replug";
    case FaultKind::Busy:
        return "busy";
    }
    return "?";
}

bool IsReplyFault(FaultKind kind) {
    return kind == FaultKind::Drop || kind == FaultKind::Short || kind == FaultKind::Status ||
           kind == FaultKind::Late || kind == FaultKind::Noise;
}
