// Message boxes titled with the program's name, run modally over the capture window.
#pragma once

#include "CapturePorts.h"

#include <functional>

class QWidget;

namespace capture {

class QtMessageBoxes : public MessagePort {
  public:
    // aroundModal wraps every modal run, so the window can keep its timer going.
    QtMessageBoxes(QWidget* owner, std::function<void(const std::function<void()>&)> aroundModal);
    void ShowMessage(const QString& text) override;
    bool AskYesNo(const QString& question) override;

  private:
    QWidget* m_owner;
    std::function<void(const std::function<void()>&)> m_aroundModal;
};

} // namespace capture
