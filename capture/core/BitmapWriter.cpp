#include "BitmapWriter.h"

#include <QSaveFile>

namespace capture {

namespace {
void Put16(QByteArray& out, int offset, std::uint16_t value) {
    out[offset] = static_cast<char>(value & 0xFF);
    out[offset + 1] = static_cast<char>(value >> 8);
}

void Put32(QByteArray& out, int offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

int RowLength(int width, int bitsPerPixel) {
    return ((width * bitsPerPixel + 31) / 32 * 32) / 8;
}
} // namespace

QByteArray BitmapFileBytes(const QImage& source, BitmapArea area, int bitsPerPixel) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0 || (bitsPerPixel != 32 && bitsPerPixel != 24))
        return {};
    if (area.left < 0 || area.top < 0 || area.right > source.width() || area.bottom > source.height())
        return {};
    const QImage rgb = source.convertToFormat(QImage::Format_RGB32);

    constexpr int kFileHeader = 14;
    constexpr int kInfoHeader = 40;
    const int rowLength = RowLength(width, bitsPerPixel);
    const std::int64_t imageSize64 = static_cast<std::int64_t>(rowLength) * height;
    if (imageSize64 > 0x7FFFFFFF - kFileHeader - kInfoHeader)
        return {};
    const int imageSize = static_cast<int>(imageSize64);
    const int fileSize = kFileHeader + kInfoHeader + imageSize;

    QByteArray out(fileSize, '\0');
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, static_cast<std::uint32_t>(fileSize));
    Put32(out, 10, kFileHeader + kInfoHeader);
    Put32(out, 14, kInfoHeader);
    Put32(out, 18, static_cast<std::uint32_t>(width));
    Put32(out, 22, static_cast<std::uint32_t>(height));
    Put16(out, 26, 1);
    Put16(out, 28, static_cast<std::uint16_t>(bitsPerPixel));
    Put32(out, 34, static_cast<std::uint32_t>(imageSize));

    const int bytesPerPixel = bitsPerPixel / 8;
    char* data = out.data() + kFileHeader + kInfoHeader;
    for (int row = 0; row < height; ++row) {
        const QRgb* line =
            reinterpret_cast<const QRgb*>(rgb.constScanLine(area.bottom - 1 - row)) + area.left;
        char* dest = data + static_cast<std::ptrdiff_t>(row) * rowLength;
        for (int x = 0; x < width; ++x) {
            dest[x * bytesPerPixel] = static_cast<char>(qBlue(line[x]));
            dest[x * bytesPerPixel + 1] = static_cast<char>(qGreen(line[x]));
            dest[x * bytesPerPixel + 2] = static_cast<char>(qRed(line[x]));
        }
    }
    return out;
}

bool WriteBitmapFile(const QImage& source, BitmapArea area, int bitsPerPixel, const QString& path,
                     QString* failureReason) {
    const QByteArray bytes = BitmapFileBytes(source, area, bitsPerPixel);
    auto fail = [&](const QString& reason) {
        if (failureReason)
            *failureReason = reason;
        return false;
    };
    if (bytes.isEmpty())
        return fail(QStringLiteral("the picture area cannot be written as a bitmap"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(reason);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace capture
