// The Print command: one portrait page with the picture sized by PrintedPictureRect;
// tells the user when no printer is installed or printing could not start.
#pragma once

#include "Messages.h"
#include "ScreenCanvas.h"

#include <QImage>
#include <QSize>
#include <QString>

namespace capture {

class PrinterPort {
  public:
    virtual ~PrinterPort() = default;
    // false when there is no printer to choose.
    virtual bool PrinterInstalled() = 0;
    // The print dialog; false when cancelled.
    virtual bool ChoosePrinter() = 0;
    // Forces portrait and starts the job and its page; false with a reason when it cannot.
    virtual bool BeginJob(QString* reason) = 0;
    virtual QSize PrintableSize() = 0;                                        // device pixels
    virtual void DrawPicture(const QImage& picture, const QRect& target) = 0; // no smoothing
    virtual void EndJob() = 0;
};

class ImagePrinter {
  public:
    static const char* const kNoPrinter;

    ImagePrinter(PrinterPort& printer, appsupport::Messages& messages);
    void PrintImage(const ScreenCanvas& canvas);

  private:
    PrinterPort& m_printer;
    appsupport::Messages& m_messages;
};

} // namespace capture
