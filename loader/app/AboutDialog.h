// Layout 100: the program icon, the version text and the OK button.
#pragma once

#include <QDialog>

class AboutDialog : public QDialog {
  public:
    explicit AboutDialog(const QIcon& icon, QWidget* parent = nullptr);
};
