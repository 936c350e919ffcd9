#include "ScreenCanvas.h"

#include <algorithm>
#include <cstring>

namespace capture {

void ScreenCanvas::CreateCanvas() {
    m_image = QImage(kWidth, kHeight, QImage::Format_RGB32);
    m_image.fill(qRgb(255, 255, 255));
    FillRect(kScreenArea, qRgb(255, 255, 255));
    Rectangle(kScreenArea);
}

void ScreenCanvas::FillRect(const QRect& area, QRgb colour) {
    const QRect clipped = area.intersected(m_image.rect());
    if (clipped.isEmpty())
        return;
    uchar* bits = m_image.bits();
    const qsizetype stride = m_image.bytesPerLine();
    const bool bytesAlike = colour == 0xFFFFFFFFu || colour == 0u; // white is most of it
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(bits + y * stride) + clipped.left();
        if (bytesAlike)
            std::memset(line, static_cast<int>(colour & 0xFF),
                        static_cast<size_t>(clipped.width()) * sizeof(QRgb));
        else
            std::fill_n(line, clipped.width(), colour);
    }
}

void ScreenCanvas::Rectangle(const QRect& area) {
    FillRect(area, qRgb(255, 255, 255));
    const QRgb black = qRgb(0, 0, 0);
    FillRect({area.left(), area.top(), area.width(), 1}, black);
    FillRect({area.left(), area.bottom(), area.width(), 1}, black);
    FillRect({area.left(), area.top(), 1, area.height()}, black);
    FillRect({area.right(), area.top(), 1, area.height()}, black);
}

void ScreenCanvas::SetPixel(int x, int y, QRgb colour) {
    if (x < 0 || y < 0 || x >= m_image.width() || y >= m_image.height())
        return;
    reinterpret_cast<QRgb*>(m_image.scanLine(y))[x] = colour;
}

} // namespace capture
