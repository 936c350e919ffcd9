// The file selection of Open BIN: a modal file-open dialog for *.BIN files.
#pragma once

#include <QWidget>

#include <optional>
#include <string>

namespace loader {

class FileChooser {
  public:
    virtual ~FileChooser() = default;
    // The chosen existing file's full path, or nothing when cancelled.
    virtual std::optional<std::string> Choose(QWidget* owner) = 0;
};

class BinFileChooser : public FileChooser {
  public:
    std::optional<std::string> Choose(QWidget* owner) override;
};

} // namespace loader
