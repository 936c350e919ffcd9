#include "ImageSaver.h"

#include "BitmapWriter.h"

#include <QDir>
#include <QFileInfo>

namespace capture {

const char* const ImageSaver::kFilter = "bmp File (*.bmp)";

ImageSaver::ImageSaver(FileChooserPort& chooser, appsupport::Messages& messages)
    : m_chooser(chooser), m_messages(messages) {}

QString ImageSaver::BitmapFileName(const QString& chosen) {
    if (chosen.right(4).toUpper() == QLatin1String(".BMP"))
        return chosen;
    return chosen + QStringLiteral(".bmp");
}

QImage ImageSaver::SavedPicture(const ScreenCanvas& canvas, int zoomed) {
    const QImage picture = canvas.Picture();
    if (zoomed != 1)
        return picture;
    QImage doubled(picture.width() * 2, picture.height() * 2, QImage::Format_RGB32);
    for (int y = 0; y < doubled.height(); ++y) {
        const QRgb* source = reinterpret_cast<const QRgb*>(picture.constScanLine(y / 2));
        QRgb* dest = reinterpret_cast<QRgb*>(doubled.scanLine(y));
        for (int x = 0; x < doubled.width(); ++x)
            dest[x] = source[x / 2];
    }
    return doubled;
}

void ImageSaver::SaveImage(const ScreenCanvas& canvas, int zoomed) {
    if (!canvas.IsCreated())
        return;
    const std::optional<QString> chosen = m_chooser.ChooseSaveFile(QString::fromLatin1(kFilter));
    if (!chosen || chosen->isEmpty())
        return;
    const QString path = BitmapFileName(*chosen);
    // The dialog asked about the name as chosen, not about the one extended here.
    if (path != *chosen && QFileInfo::exists(path)) {
        const QString question = QStringLiteral("%1 already exists.\r\nDo you want to replace it?")
                                     .arg(QDir::toNativeSeparators(path));
        if (!m_messages.AskYesNo(question.toStdString()))
            return;
    }
    // The picture as it is now: frames arriving later must not change what is written.
    const QImage picture = SavedPicture(canvas, zoomed);
    QString reason;
    if (!WriteBitmapFile(picture, {0, 0, picture.width(), picture.height()}, 32, path, &reason)) {
        m_messages.ShowMessage(QStringLiteral("The picture could not be saved to %1:\r\n%2.")
                                   .arg(QDir::toNativeSeparators(path), reason)
                                   .toStdString());
    }
}

} // namespace capture
