// The platform's file-save dialog, with its question before an existing file is replaced.
#pragma once

#include "QtWindowTimers.h"

#include "ImageSaver.h"

class QWidget;

namespace capture {

class QtFileChooser : public FileChooserPort {
  public:
    QtFileChooser(QWidget* owner, appsupport::QtWindowTimers& timers) : m_owner(owner), m_timers(timers) {}
    std::optional<QString> ChooseSaveFile(const QString& filter) override;

  private:
    QWidget* m_owner;
    appsupport::QtWindowTimers& m_timers;
};

} // namespace capture
