#pragma once

#include <string>

namespace vscope {

class Picture;

// Reads any image format Qt knows, scales it to the display's 240 x 280
// and thresholds it: pixels darker than middle grey become dark. Transparent
// parts count as white, as on the display's background.
class PictureFile {
  public:
    // Empty on success, else a description for the technician.
    static std::string Load(const std::string& path, Picture& picture);
};

} // namespace vscope
