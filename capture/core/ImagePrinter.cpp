#include "ImagePrinter.h"

#include "PrintLayout.h"

namespace capture {

const char* const ImagePrinter::kNoPrinter = "No printer is installed, so the picture cannot be printed.\r\n"
                                             "Save (Ctrl+S) writes it to a bitmap file instead.";

ImagePrinter::ImagePrinter(PrinterPort& printer, appsupport::Messages& messages)
    : m_printer(printer), m_messages(messages) {}

void ImagePrinter::PrintImage(const ScreenCanvas& canvas) {
    if (!canvas.IsCreated())
        return;
    // The print dialog offers no file output, so without a printer it has nothing to offer.
    if (!m_printer.PrinterInstalled()) {
        m_messages.ShowMessage(kNoPrinter);
        return;
    }
    if (!m_printer.ChoosePrinter())
        return;
    // Taken once the dialog has closed; later frames do not reach this page.
    const QImage picture = canvas.Picture();
    QString reason;
    if (!m_printer.BeginJob(&reason)) {
        m_messages.ShowMessage(
            QStringLiteral("The picture could not be printed: %1.").arg(reason).toStdString());
        return;
    }
    const QSize printable = m_printer.PrintableSize();
    const QRect target = PrintedPictureRect(printable.width(), printable.height());
    if (!target.isEmpty())
        m_printer.DrawPicture(picture, target);
    m_printer.EndJob();
}

} // namespace capture
