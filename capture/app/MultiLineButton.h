// A push button whose caption wraps onto several lines when it is wider than the button.
#pragma once

#include <QPushButton>

namespace capture {

class MultiLineButton : public QPushButton {
  public:
    using QPushButton::QPushButton;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace capture
