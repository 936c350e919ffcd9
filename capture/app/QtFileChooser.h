// The platform's file-save dialog, with its question before an existing file is replaced.
#pragma once

#include "ImageSaver.h"

class QWidget;

namespace capture {

class QtFileChooser : public FileChooserPort {
  public:
    explicit QtFileChooser(QWidget* owner) : m_owner(owner) {}
    std::optional<QString> ChooseSaveFile(const QString& filter) override;

  private:
    QWidget* m_owner;
};

} // namespace capture
