// The modal parts of the loader window: message boxes, the completion dialog,
// the file selection, and ending the window itself.
#pragma once

#include <optional>
#include <string>

class LoaderPrompts {
  public:
    enum class FinishChoice { Finish, Continue };
    enum class DialogEnd { Ok, Cancel };

    virtual ~LoaderPrompts() = default;
    // Message box with an OK button; "\r\n" separates lines.
    virtual void ShowMessage(const std::string& text) = 0;
    // Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    virtual FinishChoice RunFinishDialog() = 0;
    // The full path of an existing file, or nothing when cancelled.
    virtual std::optional<std::string> ChooseFile() = 0;
    virtual void EndDialog(DialogEnd end) = 0;
};
