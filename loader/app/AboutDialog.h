// The about box: the program icon, the version text and the OK button.
#pragma once

#include <QDialog>

namespace loader {

class AboutDialog : public QDialog {
  public:
    explicit AboutDialog(const QIcon& icon, QWidget* parent = nullptr);
};

} // namespace loader
