// A driver table that forwards every call to the linked library and records it
// as text, e.g. "SetTimeouts 2000 1000", for checking the exact call sequence.
#pragma once

#include "DriverCalls.h"

#include <string>
#include <vector>

namespace loadertest {

const DriverCalls& RecordingDriver();
std::vector<std::string>& RecordedCalls();

} // namespace loadertest
