// The loader window's modal parts on Qt: message boxes, the completion dialog
// and the file selection, all run through the window timers' modal rule; and
// the end of the window itself.
#pragma once

#include "FileChooser.h"
#include "LoaderPrompts.h"
#include "QtMessageBoxes.h"
#include "QtWindowTimers.h"

#include <QDialog>
#include <QIcon>

namespace loader {

class LoaderQtPrompts : public LoaderPrompts {
  public:
    LoaderQtPrompts(QDialog& window, const QIcon& icon, appsupport::QtWindowTimers& timers,
                    FileChooser& chooser);

    void ShowMessage(const std::string& text) override { m_messages.ShowMessage(text); }
    bool AskYesNo(const std::string& text) override { return m_messages.AskYesNo(text); }
    FinishChoice RunFinishDialog() override;
    std::optional<std::string> ChooseFile() override;
    void EndDialog(DialogEnd end) override;

  private:
    QDialog& m_window;
    const QIcon& m_icon;
    appsupport::QtWindowTimers& m_timers;
    appsupport::QtMessageBoxes m_messages;
    FileChooser& m_chooser;
    bool m_choosing = false;
};

} // namespace loader
