#include "QtPrinterPort.h"

#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinterInfo>

namespace capture {

QtPrinterPort::QtPrinterPort(QWidget* owner, QPrinter* printer, bool showDialog)
    : m_owner(owner), m_printer(printer), m_showDialog(showDialog) {
    if (!m_printer) {
        m_ownPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
        m_printer = m_ownPrinter.get();
    }
}

bool QtPrinterPort::PrinterInstalled() {
    return !m_printer->outputFileName().isEmpty() || !QPrinterInfo::availablePrinterNames().isEmpty();
}

bool QtPrinterPort::ChoosePrinter() {
    if (!m_showDialog)
        return true;
    QPrintDialog dialog(m_printer, m_owner);
    // All pages, no page range, no selection, no print-to-file box; copies by the printer.
    dialog.setOptions(QAbstractPrintDialog::PrintShowPageSize | QAbstractPrintDialog::PrintCollateCopies);
    return dialog.exec() == QDialog::Accepted;
}

bool QtPrinterPort::BeginJob(QString* reason) {
    m_printer->setPageOrientation(QPageLayout::Portrait);
    m_printer->setDocName(QString());
    if (!m_printer->isValid()) {
        *reason = QStringLiteral("no printer is available");
        return false;
    }
    if (!m_painter.begin(m_printer)) {
        if (!m_printer->outputFileName().isEmpty())
            *reason = QStringLiteral("%1 could not be written").arg(m_printer->outputFileName());
        else if (m_printer->printerName().isEmpty())
            *reason = QStringLiteral("no printer was chosen");
        else
            *reason = QStringLiteral("the printer \"%1\" could not be started").arg(m_printer->printerName());
        return false;
    }
    return true;
}

QSize QtPrinterPort::PrintableSize() {
    return m_printer->pageLayout().paintRectPixels(m_printer->resolution()).size();
}

void QtPrinterPort::DrawPicture(const QImage& picture, const QRect& target) {
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    m_painter.drawImage(target, picture);
}

void QtPrinterPort::EndJob() {
    m_painter.end();
}

} // namespace capture
