// The about box: icon, version line, a second information line and OK.
#pragma once

#include <QDialog>

namespace capture {

class AboutDialog : public QDialog {
  public:
    static const char* const kCaption;
    static const char* const kVersionLine;
    static const char* const kInformationLine;

    explicit AboutDialog(QWidget* parent = nullptr);
};

} // namespace capture
