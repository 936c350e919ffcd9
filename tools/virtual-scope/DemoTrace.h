#pragma once

#include <cstdint>

namespace vscope {

class Picture;

// The live demonstration screen: an ignition secondary trace (firing line,
// spark line, coil oscillation, dwell) on a dotted grid with tick marks as
// the scale. The trace drifts and its firing voltage varies from frame to
// frame, as on a running engine, so a live display visibly moves.
class DemoTrace {
  public:
    static void Draw(Picture& picture, std::uint64_t frameNumber);
};

} // namespace vscope
