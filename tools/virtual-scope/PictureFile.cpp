#include "PictureFile.h"

#include "Picture.h"

#include <QImage>
#include <QString>

namespace vscope {

std::string PictureFile::Load(const std::string& path, Picture& picture) {
    QImage image;
    if (!image.load(QString::fromStdString(path)))
        return "cannot read the picture file " + path +
               " (missing, unreadable or not an image format this system knows)";
    const QImage scaled =
        image.convertToFormat(QImage::Format_ARGB32)
            .scaled(Picture::kWidth, Picture::kHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    picture.Clear();
    for (int y = 0; y < Picture::kHeight; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(scaled.constScanLine(y));
        for (int x = 0; x < Picture::kWidth; ++x) {
            const QRgb c = row[x];
            const int alpha = qAlpha(c);
            const int gray = qGray(c);
            // Composite over white before deciding.
            const int shown = (gray * alpha + 255 * (255 - alpha)) / 255;
            picture.Set(x, y, shown < 128);
        }
    }
    return {};
}

} // namespace vscope
