// The file selection of Open BIN: a modal file-open dialog for *.BIN files.
#pragma once

#include <QFileDialog>
#include <QPointer>
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

// One dialog for every selection of a run: a new one each time would build its
// icons anew, and Qt's pixmap cache keeps every one of them, so a workshop that
// writes image after image would see the program grow by some 20 KiB a time.
class BinFileChooser : public FileChooser {
  public:
    BinFileChooser() = default;
    ~BinFileChooser() override;
    BinFileChooser(const BinFileChooser&) = delete;
    BinFileChooser& operator=(const BinFileChooser&) = delete;

    std::optional<std::string> Choose(QWidget* owner) override;

  private:
    QFileDialog& Dialog(QWidget* owner);

    QPointer<QFileDialog> m_dialog; // owned by its owner window, or by us without one
};

} // namespace loader
