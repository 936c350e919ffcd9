// Message boxes over a window, titled with the program's name, run through the
// window timers' modal rule so that ticks go on behind them. A box opens
// centred over its window, or centred on the screen before the window is shown.
#pragma once

#include "Messages.h"
#include "QtWindowTimers.h"

#include <QMessageBox>
#include <QString>

namespace appsupport {

class QtMessageBoxes : public Messages {
  public:
    QtMessageBoxes(QWidget* owner, QString programName, QMessageBox::Icon questionIcon,
                   QtWindowTimers& timers);

    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;

  private:
    QWidget* m_owner;
    QString m_programName;
    QMessageBox::Icon m_questionIcon;
    QtWindowTimers& m_timers;
};

// A message text as the box shows it: "\r\n" becomes a line break.
QString MessageText(const std::string& text);

// Where a box of the given outer size opens: centred over its window, or, before
// the window is shown (or without one), centred on the screen; kept on the screen.
QPoint MessageBoxPosition(const QWidget* owner, QSize box);

} // namespace appsupport
