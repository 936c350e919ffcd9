// The loader window's elements that the sequencer writes, addressed by their
// control identifiers (LoaderControls.h).
#pragma once

#include <string>

namespace loader {

class LoaderView {
  public:
    virtual ~LoaderView() = default;
    virtual void SetText(int control, const std::string& text) = 0;
    virtual void EnableButton(int control, bool enabled) = 0;
    virtual void SetBarRange(int control, int minimum, int maximum) = 0;
    virtual void SetBarPosition(int control, int position) = 0;
};

} // namespace loader
