// Modal message boxes titled with the program's name; "\r\n" in a text is a
// line break. Texts are UTF-8.
#pragma once

#include <string>

namespace appsupport {

class Messages {
  public:
    virtual ~Messages() = default;
    virtual void ShowMessage(const std::string& text) = 0;  // OK button
    virtual bool AskYesNo(const std::string& question) = 0; // true for Yes
};

} // namespace appsupport
