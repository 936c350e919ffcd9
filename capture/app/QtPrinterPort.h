// Printing through QPrinter: the print dialog, a forced portrait page and a painter on it.
#pragma once

#include "ImagePrinter.h"

#include <QPainter>
#include <QPrinter>

#include <memory>

class QWidget;

namespace capture {

class QtPrinterPort : public PrinterPort {
  public:
    // Without a printer of the caller's, the system's default printer is used.
    // showDialog false skips the print dialog (prepared printers, e.g. PDF output).
    explicit QtPrinterPort(QWidget* owner, QPrinter* printer = nullptr, bool showDialog = true);

    // A printer of the system's, or output to a file prepared by the caller.
    bool PrinterInstalled() override;
    bool ChoosePrinter() override;
    bool BeginJob(QString* reason) override;
    QSize PrintableSize() override;
    void DrawPicture(const QImage& picture, const QRect& target) override;
    void EndJob() override;

  private:
    QWidget* m_owner;
    std::unique_ptr<QPrinter> m_ownPrinter;
    QPrinter* m_printer;
    bool m_showDialog;
    QPainter m_painter;
};

} // namespace capture
