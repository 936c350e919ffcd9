// scopectl list: the attached bridges, and whether each can be opened now.
#pragma once

#include "CommandLine.h"

namespace scopectl {

// The exit status: 3 when no bridge is attached.
int RunList(const ListOptions& options);

} // namespace scopectl
