// Dialog units to pixels, the classic dialog-layout rule both programs use:
// x_px = x_du * baseX / 4, y_px = y_du * baseY / 8, with baseX the average width
// of the 52 Latin letters and baseY the height of the dialog font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace layout {

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& dialogFont);
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int X(int du) const { return du * m_baseX / 4; }
    int Y(int du) const { return du * m_baseY / 8; }
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

  private:
    int m_baseX;
    int m_baseY;
};

// The dialog font of the layouts: the named family where it is installed,
// otherwise a Korean-capable fallback so that the Korean texts render.
QFont DialogFont(const QString& family, int pointSize);

} // namespace layout
