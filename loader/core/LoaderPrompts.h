// The modal parts of the loader window: message boxes, the completion dialog,
// the file selection, and ending the window itself.
#pragma once

#include "Messages.h"

#include <optional>
#include <string>

namespace loader {

class LoaderPrompts : public appsupport::Messages {
  public:
    enum class FinishChoice { Finish, Continue };
    enum class DialogEnd { Ok, Cancel };

    virtual FinishChoice RunFinishDialog() = 0;
    // The full path of an existing file, or nothing when cancelled or when a
    // selection is already open (the boot loader may answer meanwhile, and a
    // second selection on top could replace the image mid-download).
    virtual std::optional<std::string> ChooseFile() = 0;
    virtual void EndDialog(DialogEnd end) = 0;
};

} // namespace loader
