// The Save command: asks for a file name, applies the ".bmp" rule and writes the
// picture at the zoom it is shown, telling the user when the file could not be written.
#pragma once

#include "Messages.h"
#include "ScreenCanvas.h"

#include <QString>

#include <optional>

namespace capture {

class FileChooserPort {
  public:
    virtual ~FileChooserPort() = default;
    // The save dialog with one filter and the overwrite question for the chosen name;
    // nothing when cancelled.
    virtual std::optional<QString> ChooseSaveFile(const QString& filter) = 0;
};

class ImageSaver {
  public:
    static const char* const kFilter; // "bmp File (*.bmp)"

    ImageSaver(FileChooserPort& chooser, appsupport::Messages& messages);

    // Path unchanged when its last four characters are ".bmp" in any case, else + ".bmp".
    static QString BitmapFileName(const QString& chosen);
    // The picture as saved: 240 x 280 at 1x, 480 x 560 with each pixel a 2 x 2 block at 2x.
    static QImage SavedPicture(const ScreenCanvas& canvas, int zoomed);

    void SaveImage(const ScreenCanvas& canvas, int zoomed);

  private:
    FileChooserPort& m_chooser;
    appsupport::Messages& m_messages;
};

} // namespace capture
