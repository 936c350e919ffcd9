// The loader window's modal parts on a command line: the file comes from the
// command, a message ends the run (it is what the window would show), the
// completion dialog is answered Finish, and the desktop is not involved.
#pragma once

#include "DownloadActivity.h"
#include "LoaderPrompts.h"

#include <optional>
#include <string>

namespace scopectl {

class FlashPrompts : public loader::LoaderPrompts, public loader::DownloadActivity {
  public:
    explicit FlashPrompts(std::string file) : m_file(std::move(file)) {}

    void ShowMessage(const std::string& text) override;
    // Only the quit question asks, and a command line never quits that way.
    bool AskYesNo(const std::string&) override { return false; }
    FinishChoice RunFinishDialog() override;
    std::optional<std::string> ChooseFile() override { return m_file; }
    void EndDialog(DialogEnd) override { m_ended = true; }
    void DownloadRunning(bool running) override;

    // The last message shown, with its line breaks as spaces; empty if none.
    const std::string& Message() const { return m_message; }
    bool Ended() const { return m_ended; }
    bool Finished() const { return m_finished; }
    // The flash has been written to: true from the start of the run on.
    bool Started() const { return m_started; }
    bool Running() const { return m_running; }

  private:
    std::string m_file;
    std::string m_message;
    bool m_ended = false;
    bool m_finished = false;
    bool m_started = false;
    bool m_running = false;
};

} // namespace scopectl
