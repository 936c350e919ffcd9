// The loader window's dialogs for a fault schedule: the file selection names
// the schedule's image, the completion dialog answers Finish, and every
// message box and the window's end are recorded.
#pragma once

#include "LoaderPrompts.h"

#include <string>
#include <vector>

class ScriptedPrompts : public loader::LoaderPrompts {
  public:
    explicit ScriptedPrompts(std::string imagePath) : m_imagePath(std::move(imagePath)) {}

    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return false; }
    FinishChoice RunFinishDialog() override;
    std::optional<std::string> ChooseFile() override;
    void EndDialog(DialogEnd end) override { m_ended = end; }

    const std::vector<std::string>& Messages() const { return m_messages; }
    int FinishDialogs() const { return m_finishDialogs; }
    int Selections() const { return m_selections; }
    const std::optional<DialogEnd>& Ended() const { return m_ended; }

  private:
    std::string m_imagePath;
    std::vector<std::string> m_messages;
    int m_finishDialogs = 0;
    int m_selections = 0;
    std::optional<DialogEnd> m_ended;
};
