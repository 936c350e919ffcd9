// The off-screen 480 x 560 surface that holds the only copy of the scope's picture:
// a one-pixel black frame at (0,0)-(241,281) around the 240 x 280 picture at (1,1).
#pragma once

#include <QImage>
#include <QRect>

namespace capture {

class ScreenCanvas {
  public:
    static constexpr int kWidth = 480;
    static constexpr int kHeight = 560;
    static constexpr QRect kScreenArea{0, 0, 242, 282};  // frame and picture, as shown
    static constexpr QRect kPictureArea{1, 1, 240, 280}; // what is saved and printed

    // White surface with the empty frame drawn.
    void CreateCanvas();
    bool IsCreated() const { return !m_image.isNull(); }

    void FillRect(const QRect& area, QRgb colour);
    // One-pixel black outline on the border of area over a white fill.
    void Rectangle(const QRect& area);
    void SetPixel(int x, int y, QRgb colour);

    const QImage& Image() const { return m_image; }
    QImage& MutableImage() { return m_image; }
    QImage Picture() const { return m_image.copy(kPictureArea); }

  private:
    QImage m_image;
};

} // namespace capture
